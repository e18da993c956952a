package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveNodes;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.refused;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.release;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.totalNodesAllocated;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.read;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.write;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.Capture;
import com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.Feed;
import com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.Recorder;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.EOFException;
import java.io.IOException;
import java.io.ObjectInputStream;
import java.io.ObjectOutputStream;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class DiagramStreamTest {
    /** Variables 0 and 1 differ: [R, N], records (number, var, low, high) children first, the root. */
    private static final int[] WORKED = {1, 5, 3, 1, 0, 1, 4, 1, 1, 0, 2, 0, 3, 4, 2};

    @BeforeEach
    void start() {
        EngineSupport.freshEngine();
    }

    /** A random group of roots over three 4-bit fields, sharing nodes, with repeats and constants. */
    private static int[] randomRoots(Random rnd) {
        int[] roots = new int[rnd.nextInt(8)];
        for (int r = 0; r < roots.length; r++) {
            if (r > 0 && rnd.nextInt(4) == 0) {
                BDDNativeProxy.doIncRefCount(roots[r] = roots[rnd.nextInt(r)]);
                continue;
            }
            roots[r] = rnd.nextInt(6) == 0 ? BDDManagerNativeProxy.doGetOne() : BDDManagerNativeProxy.doGetZero();
            for (int t = rnd.nextInt(30); t > 0; t--) {
                int next = BDDNativeProxy.doAddTuple(roots[r], new int[] {0, 4, 8}, new int[] {4, 4, 4},
                        new int[] {rnd.nextInt(16), rnd.nextInt(16), rnd.nextInt(16)});
                release(roots[r]);
                roots[r] = next;
            }
        }
        return roots;
    }

    @Test
    void groupsRoundTripThroughObjectStreamsAsTheSameHandlesAndRebuildFaithfully() throws Exception {
        int equal = BDDManagerNativeProxy.doMakeEquals(0, 1);
        int differ = BDDNativeProxy.doComplement(equal);
        assertArrayEquals(WORKED, write(differ));
        assertArrayEquals(new int[] {differ}, read(WORKED));
        release(equal, differ, differ);
        assertArrayEquals(new int[0], read(new int[] {0, 2}));
        int[] constants = {BDDManagerNativeProxy.doGetZero(), BDDManagerNativeProxy.doGetOne()};
        assertArrayEquals(constants, read(new int[] {2, 2, 0, 1}));
        for (int seed = 1; seed <= 30; seed++) {
            int[] roots = randomRoots(new Random(seed));
            int[] stream = write(roots);
            assertEquals(4 * stream[1] + roots.length - 6, stream.length);
            // Two groups in one real object stream, and an object after them.
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            try (ObjectOutputStream out = new ObjectOutputStream(bytes)) {
                BDDManagerNativeProxy.doSerialize(out, roots, null, 1.0, "");
                BDDManagerNativeProxy.doSerialize(out, constants, null, 1.0, "");
                out.writeObject("after");
            }
            int alive = aliveNodes();
            int allocated = totalNodesAllocated();
            try (ObjectInputStream in = new ObjectInputStream(new ByteArrayInputStream(bytes.toByteArray()))) {
                int[] again = BDDManagerNativeProxy.doDeserialize(in, null, 1.0, "");
                assertArrayEquals(roots, again, "seed " + seed);
                assertArrayEquals(constants, BDDManagerNativeProxy.doDeserialize(in, null, 1.0, ""));
                assertEquals("after", in.readObject());
                release(again);
            }
            assertEquals(alive, aliveNodes());
            assertEquals(allocated, totalNodesAllocated());
            // Read into a drained store, the stream builds the same diagrams afresh.
            release(roots);
            assertEquals(0, aliveWhenDrained());
            int[] rebuilt = read(stream);
            assertArrayEquals(stream, write(rebuilt), "seed " + seed);
            release(rebuilt);
        }
        assertEquals(0, aliveWhenDrained());
    }

    @Test
    void progressReportsCarryTheShareOfTheTotal() throws IOException {
        int[] roots = {read(WORKED)[0], BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 2, 1),
            BDDManagerNativeProxy.doGetOne()};
        Recorder r = new Recorder();
        BDDManagerNativeProxy.doSerialize(new Capture(false), roots, r, 1.0, "m");
        assertEquals(List.of("0/6 m", "1/6 m", "2/6 m", "3/6 m", "4/6 m", "5/6 m"), r.reports);
        // Odd shares give totals clamped into an int, and 0 when there is no sensible one.
        double[] shares = {0.5, 4.0, 0.0, 1e-300, -1.0, Double.NaN};
        String[] totals = {"12", "1", "2147483647", "2147483647", "0", "0"};
        for (int i = 0; i < shares.length; i++) {
            Recorder s = new Recorder();
            BDDManagerNativeProxy.doSerialize(new Capture(false), roots, s, shares[i], null);
            assertEquals("5/" + totals[i] + " null", s.reports.get(5), "share " + shares[i]);
        }
        Recorder d = new Recorder();
        release(BDDManagerNativeProxy.doDeserialize(new Feed((Object) WORKED), d, 1.0, "s"));
        assertEquals(List.of("2/5 s", "3/5 s", "4/5 s"), d.reports);
        release(roots);
    }

    private interface StoppableCall {
        Object run(Recorder callback) throws Exception;
    }

    /** Runs {@code call} with callbacks that stop it at check or report k: cancelling, or throwing. */
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
            // lengths and headers
            new int[0], new int[] {1}, new int[] {0, 1}, new int[] {-1, 2}, new int[] {1, big, 2, 0, 0, 1, 2},
            new int[] {Integer.MAX_VALUE, Integer.MAX_VALUE}, new int[] {big, 2}, Arrays.copyOf(WORKED, 14),
            Arrays.copyOf(WORKED, 16),
            // record numbers out of range or repeated, children out of range or not yet defined
            worked(2, 5), worked(2, 1), worked(6, 3), worked(4, 5), worked(4, 4), worked(4, -1),
            // a redundant node, variables out of order or range
            worked(4, 1), worked(11, 1), worked(3, -1), worked(3, 32766),
            // roots out of range, a node no root reaches
            worked(14, 5), worked(14, -1), worked(14, 3),
            null, "0, 2", new long[] {0, 2}, new Integer[] {0, 2}, new int[][] {{0, 2}},
        };
        for (Object s : broken) {
            refused("Malformed diagram stream",
                    () -> BDDManagerNativeProxy.doDeserialize(new Feed(s), null, 1.0, ""));
        }
        assertEquals(0, aliveWhenDrained());
    }
}
