package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveNodes;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.assertNativeError;
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
import com.zvk.quarnelbrisk.ui.ThreadCallback;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.EOFException;
import java.io.IOException;
import java.io.ObjectInputStream;
import java.io.ObjectOutputStream;
import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class DiagramStreamTest {
    private static final int[] WORKED = {1, 5, 3, 1, 0, 1, 4, 1, 1, 0, 2, 0, 3, 4, 2};

    @BeforeEach
    void start() {
        EngineSupport.freshEngine();
    }

    /** The stream of one chain of 98 nodes over variables 0 to 97, so N is 100. */
    private static int[] chainOf98() {
        StreamModel m = new StreamModel();
        int n = 1;
        for (int v = 97; v >= 0; v--) {
            n = v % 2 == 0 ? m.mk(v, n, 0) : m.mk(v, 0, n);
        }
        return m.encode(n);
    }

    @Test
    void randomGroupsRoundTripAndComeBackAsTheSameHandles() throws Exception {
        List<Integer> held = new ArrayList<>();
        for (int seed = 1; seed <= 40; seed++) {
            Random rnd = new Random(seed);
            StreamModel m = new StreamModel();
            int[] roots = m.randomRoots(rnd, rnd.nextInt(20), 1 + rnd.nextInt(12), 1 + rnd.nextInt(6), rnd.nextInt(7));
            int[] stream = m.encode(roots);
            int[] handles = read(stream);
            assertArrayEquals(stream, write(handles), "seed " + seed);

            // Read again while the originals live, through a real object stream holding two groups.
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            try (ObjectOutputStream out = new ObjectOutputStream(bytes)) {
                BDDManagerNativeProxy.doSerialize(out, handles, null, 1.0, "");
                BDDManagerNativeProxy.doSerialize(out, new int[] {handles.length > 0 ? handles[0] : BDDManagerNativeProxy.doGetOne()}, null, 1.0, "");
                out.writeObject("after");
            }
            int alive = aliveNodes();
            int allocated = totalNodesAllocated();
            try (ObjectInputStream in = new ObjectInputStream(new ByteArrayInputStream(bytes.toByteArray()))) {
                int[] again = BDDManagerNativeProxy.doDeserialize(in, null, 1.0, "");
                assertArrayEquals(handles, again);
                int[] first = BDDManagerNativeProxy.doDeserialize(in, null, 1.0, "");
                assertEquals("after", in.readObject());
                release(again);
                release(first);
            }
            assertEquals(alive, aliveNodes());
            assertEquals(allocated, totalNodesAllocated());
            if (seed % 2 == 0) {
                release(handles);
            } else {
                for (int h : handles) {
                    held.add(h);
                }
            }
        }
        release(held.stream().mapToInt(Integer::intValue).toArray());
        assertEquals(0, aliveWhenDrained());
    }

    @Test
    void progressReportsFollowTheTwoPassesAndTheRecordSteps() throws IOException {
        int[] roots = read(new int[] {3, 5, 3, 1, 0, 1, 4, 1, 1, 0, 2, 0, 3, 4, 2, 4, 0});
        Recorder r = new Recorder();
        BDDManagerNativeProxy.doSerialize(new Capture(false), roots, r, 1.0, "m");
        assertEquals(List.of("0/6 m", "1/6 m", "2/6 m", "3/6 m", "4/6 m", "5/6 m"), r.reports);
        assertEquals(6, r.checks);
        double[] shares = {0.5, 4.0, 0.0, 1e-300, -1.0, Double.NaN};
        String[] totals = {"12", "1", "2147483647", "2147483647", "0", "0"};
        for (int i = 0; i < shares.length; i++) {
            Recorder s = new Recorder();
            BDDManagerNativeProxy.doSerialize(new Capture(false), roots, s, shares[i], null);
            assertEquals("5/" + totals[i] + " null", s.reports.get(5), "share " + shares[i]);
        }

        Recorder d = new Recorder();
        release(BDDManagerNativeProxy.doDeserialize(new Feed((Object) chainOf98()), d, 0.5, "d"));
        List<String> expected = new ArrayList<>();
        for (int i = 4; i <= 96; i += 4) {
            expected.add(i + "/200 d");
        }
        assertEquals(expected, d.reports);
        Recorder small = new Recorder();
        release(BDDManagerNativeProxy.doDeserialize(new Feed((Object) WORKED), small, 1.0, "s"));
        assertEquals(List.of("2/5 s", "3/5 s", "4/5 s"), small.reports);
        Recorder none = new Recorder();
        BDDManagerNativeProxy.doDeserialize(new Feed((Object) new int[] {0, 2}), none, 1.0, "n");
        BDDManagerNativeProxy.doSerialize(new Capture(false), new int[0], none, 1.0, "n");
        assertEquals(0, none.checks + none.reports.size());
        release(roots);
        assertEquals(0, aliveWhenDrained());
    }

    @Test
    void cancellationAndCallbackExceptionsStopCleanlyAtEveryPoint() throws IOException {
        StreamModel m = new StreamModel();
        int[] expected = m.encode(m.randomRoots(new Random(7), 0, 10, 4, 5));
        int[] roots = read(expected);
        for (int k = 1; k <= 10; k++) {
            for (int way = 0; way < 3; way++) {
                Recorder r = new Recorder();
                Capture out = new Capture(false);
                if (way == 0) {
                    r.cancelAt = k;
                    BDDManagerNativeProxy.doSerialize(out, roots, r, 1.0, "");
                } else {
                    r.throwInCheckAt = way == 1 ? k : 0;
                    r.throwInReportAt = way == 2 ? k : 0;
                    assertThrows(IllegalStateException.class, () -> BDDManagerNativeProxy.doSerialize(out, roots, r, 1.0, ""));
                }
                assertEquals(List.of(), out.written);
                assertEquals(way == 2 ? k : k - 1, r.reports.size());
                assertArrayEquals(expected, write(roots), "marks and numbers are back after stopping at " + k);
            }
        }
        release(roots);
        assertEquals(0, aliveWhenDrained());

        int[] chain = chainOf98();
        for (int k = 1; k <= 24; k++) {
            Recorder c = new Recorder();
            c.cancelAt = k;
            assertNull(BDDManagerNativeProxy.doDeserialize(new Feed((Object) chain), c, 1.0, ""));
            Recorder t = new Recorder();
            t.throwInCheckAt = k;
            assertThrows(IllegalStateException.class, () -> BDDManagerNativeProxy.doDeserialize(new Feed((Object) chain), t, 1.0, ""));
            Recorder u = new Recorder();
            u.throwInReportAt = k;
            assertThrows(IllegalStateException.class, () -> BDDManagerNativeProxy.doDeserialize(new Feed((Object) chain), u, 1.0, ""));
        }
        assertEquals(0, aliveWhenDrained());
        int[] whole = read(chain);
        assertArrayEquals(chain, write(whole));
        release(whole);
        assertEquals(0, aliveWhenDrained());
    }

    @Test
    void streamFailuresAndBadArgumentsReachTheCaller() throws IOException {
        int[] roots = read(WORKED);
        assertThrows(IOException.class, () -> BDDManagerNativeProxy.doSerialize(new Capture(true), roots, null, 1.0, ""));
        assertThrows(EOFException.class, () -> BDDManagerNativeProxy.doDeserialize(new Feed(), null, 1.0, ""));

        int freed = BDDManagerNativeProxy.doMakeSingleTupleUnary(3, 4, 5);
        release(freed);
        BDDManagerNativeProxy.doCollectGarbage();
        Capture out = new Capture(false);
        for (int bad : new int[] {0, -1, 1 << 30, freed}) {
            assertNativeError("Assert failed: Invalid node handle",
                    () -> BDDManagerNativeProxy.doSerialize(out, new int[] {roots[0], bad}, null, 1.0, ""));
        }
        assertNativeError("Assert failed: Invalid root list", () -> BDDManagerNativeProxy.doSerialize(out, null, null, 1.0, ""));
        assertNativeError("Assert failed: Invalid stream", () -> BDDManagerNativeProxy.doSerialize(null, roots, null, 1.0, ""));
        assertNativeError("Assert failed: Invalid stream", () -> BDDManagerNativeProxy.doDeserialize(out, null, 1.0, ""));
        assertNativeError("Assert failed: Invalid callback", () -> BDDManagerNativeProxy.doSerialize(out, roots, "x", 1.0, ""));
        assertNativeError("Assert failed: Invalid callback", () -> BDDManagerNativeProxy.doDeserialize(new Feed(), 1, 1.0, ""));
        ThreadCallback reentrant = new ThreadCallback() {
            @Override
            public boolean checkCancelled() {
                return false;
            }

            @Override
            public void informProgress(int done, int total, String message) {
                BDDManagerNativeProxy.doGetOne();
            }
        };
        assertNativeError("Assert failed: Concurrent or reentrant call",
                () -> BDDManagerNativeProxy.doSerialize(out, roots, reentrant, 1.0, ""));
        assertNativeError("Assert failed: Concurrent or reentrant call",
                () -> BDDManagerNativeProxy.doDeserialize(new Feed((Object) WORKED), reentrant, 1.0, ""));
        assertEquals(List.of(), out.written);
        for (Object notInts : new Object[] {null, "0, 2", new long[] {0, 2}, new Integer[] {0, 2}, new int[][] {{0, 2}}}) {
            assertNativeError("Assert failed: Malformed diagram stream",
                    () -> BDDManagerNativeProxy.doDeserialize(new Feed(notInts), null, 1.0, ""));
        }
        assertArrayEquals(WORKED, write(roots));
        release(roots);
        assertEquals(0, aliveWhenDrained());
    }
}
