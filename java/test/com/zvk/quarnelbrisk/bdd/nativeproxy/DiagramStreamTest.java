package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.refused;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.release;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.read;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.write;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.Capture;
import com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.Feed;
import com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.Recorder;
import java.io.EOFException;
import java.io.IOException;
import java.util.Arrays;
import java.util.List;
import java.util.stream.IntStream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class DiagramStreamTest {
    /** Variables 0 and 1 differ: [R, N], records (number, var, low, high) children first, the root. */
    private static final int[] WORKED = {1, 5, 3, 1, 0, 1, 4, 1, 1, 0, 2, 0, 3, 4, 2};

    @BeforeEach
    void start() {
        EngineSupport.freshEngine();
    }

    @Test
    void theStreamsIntsAndTheirReadingBack() throws IOException {
        int equal = BDDManagerNativeProxy.doMakeEquals(0, 1);
        int differ = BDDNativeProxy.doComplement(equal);
        assertArrayEquals(WORKED, write(differ));
        // Numbers in pre-order of first visit, records in post-order; shared parts once, a root
        // given twice stands twice, constants are 0 and 1.
        int[] group = {differ, equal, differ, BDDManagerNativeProxy.doGetOne(), BDDManagerNativeProxy.doGetZero()};
        int[] stream = {5, 6, 3, 1, 0, 1, 4, 1, 1, 0, 2, 0, 3, 4, 5, 0, 4, 3, 2, 5, 2, 1, 0};
        assertArrayEquals(stream, write(group));
        assertArrayEquals(group, read(stream), "read while the originals live: the same handles");
        assertArrayEquals(new int[0], read(new int[] {0, 2}));
        release(group);
        release(equal, differ);
        assertEquals(0, aliveWhenDrained());
        // Read into a drained store, the stream builds the same diagrams afresh.
        assertArrayEquals(stream, write(read(stream)));
    }

    @Test
    void progressReportsCarryTheShareOfTheTotal() throws IOException {
        int[] roots = {read(WORKED)[0], BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 2, 1),
            BDDManagerNativeProxy.doGetOne()};
        // Odd shares give totals clamped into an int, and 0 when there is no sensible one.
        double[] shares = {1.0, 0.5, 4.0, 0.0, 1e-300, -1.0, Double.NaN};
        String[] totals = {"6 m", "12 null", "1 null", "2147483647 null", "2147483647 null", "0 null", "0 null"};
        for (int i = 0; i < shares.length; i++) {
            Recorder r = new Recorder();
            BDDManagerNativeProxy.doSerialize(new Capture(false), roots, r, shares[i], i == 0 ? "m" : null);
            String total = totals[i];
            assertEquals(IntStream.range(0, 6).mapToObj(k -> k + "/" + total).toList(), r.reports, "share " + shares[i]);
        }
        Recorder d = new Recorder();
        release(BDDManagerNativeProxy.doDeserialize(new Feed((Object) WORKED), d, 1.0, "s"));
        assertEquals(List.of("2/5 s", "3/5 s", "4/5 s"), d.reports);
    }

    private interface StoppableCall {
        Object run(Recorder callback) throws Exception;
    }

    /**
     * Runs {@code call} with callbacks that stop it at check k: cancelling, throwing there, or
     * throwing in report k. Each report follows its check.
     */
    private static void stopsCleanly(int k, StoppableCall call) throws Exception {
        for (int way = 0; way < 3; way++) {
            Recorder r = new Recorder();
            r.way = way;
            r.stopAt = k;
            if (way == 0) {
                assertNull(call.run(r), "a cancelled call returns nothing");
            } else {
                assertThrows(IllegalStateException.class, () -> call.run(r));
            }
            assertEquals(way == 2 ? k : k - 1, r.reports.size(), "reports before stopping at " + k + ", way " + way);
        }
    }

    @Test
    void cancellationAndJavaExceptionsStopCleanlyAtEveryPoint() throws Exception {
        // A chain of 98 nodes over variables 0 to 97, and more roots sharing it.
        int chain = BDDManagerNativeProxy.doMakeSingleTuple(new int[] {0, 31, 62, 93}, new int[] {31, 31, 31, 5},
                new int[] {0x2AAAAAAA, 0x15555555, 0x2AAAAAAA, 21});
        int[] roots = {chain, read(WORKED)[0], BDDNativeProxy.doComplement(chain)};
        int[] expected = write(roots);
        Capture out = new Capture(false);
        for (int k = 1; k <= 2 * roots.length; k++) {
            stopsCleanly(k, r -> {
                BDDManagerNativeProxy.doSerialize(out, roots, r, 1.0, "");
                return null;
            });
            assertEquals(List.of(), out.written);
            assertArrayEquals(expected, write(roots), "marks and numbers are back after stopping at " + k);
        }
        assertThrows(IOException.class, () -> BDDManagerNativeProxy.doSerialize(new Capture(true), roots, null, 1.0, ""));
        assertThrows(EOFException.class, () -> BDDManagerNativeProxy.doDeserialize(new Feed(), null, 1.0, ""));
        release(roots);
        Recorder counting = new Recorder();
        release(BDDManagerNativeProxy.doDeserialize(new Feed((Object) expected), counting, 1.0, ""));
        assertEquals(0, aliveWhenDrained());
        for (int k = 1; k <= counting.checks; k++) {
            stopsCleanly(k, r -> BDDManagerNativeProxy.doDeserialize(new Feed((Object) expected), r, 1.0, ""));
            assertEquals(0, aliveWhenDrained(), "a stopped read left nodes behind at " + k);
        }
    }

    private static int[] worked(int index, int value) {
        int[] s = WORKED.clone();
        s[index] = value;
        return s;
    }

    /** One broken stream for each rule, and objects that are no int array; none leaves anything behind. */
    @Test
    void everyBrokenStreamIsRefusedBeforeAnythingIsBuilt() throws IOException {
        int big = 1 << 30;
        Object[] broken = {
            new int[0], new int[] {1}, new int[] {0, 1}, new int[] {-1, 2}, new int[] {1, big, 2, 0, 0, 1, 2},
            new int[] {Integer.MAX_VALUE, Integer.MAX_VALUE}, Arrays.copyOf(WORKED, 14), Arrays.copyOf(WORKED, 16),
            // record numbers out of range or repeated, children out of range or not yet defined
            worked(2, 5), worked(2, 1), worked(6, 3), worked(4, 5), worked(4, 4), worked(4, -1),
            // a redundant node, variables out of order or range, roots out of range, an unreached node
            worked(4, 1), worked(11, 1), worked(3, -1), worked(3, 32766), worked(14, 5), worked(14, -1), worked(14, 3),
            null, "0, 2", new long[] {0, 2}, new int[][] {{0, 2}},
        };
        for (Object s : broken) {
            refused("Malformed diagram stream", () -> BDDManagerNativeProxy.doDeserialize(new Feed(s), null, 1.0, ""));
        }
        assertEquals(0, aliveWhenDrained());
    }
}
