package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.release;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import java.util.Random;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;

/**
 * A million releases from four threads while the engine computes under the monitor that guards the
 * release queue, every result checked by counts and inclusions.
 */
class MonitorTest {
    private static final int[] FIRST = {0, 6};
    private static final int[] WIDTH = {6, 6};

    private static int count(int set) {
        return BDDNativeProxy.doGetNumOfTuples(set, FIRST, WIDTH, new int[] {64, 64});
    }

    @Test
    void aMillionReleasesFromFourThreadsWhileTheEngineComputesAreCountedExactly() throws Exception {
        // A collection every 51 creations: make-node takes the monitor all the time.
        BDDManagerNativeProxy.doInit(1 << 20, 1 << 18, 50, true);
        Random rnd = new Random(11);
        int[] handles = new int[1000];
        int[] counts = new int[handles.length];
        for (int i = 0; i < handles.length; i++) {
            handles[i] = EngineSupport.set(FIRST, WIDTH, IntStream.range(0, 1 + rnd.nextInt(6))
                    .mapToObj(t -> new int[] {rnd.nextInt(64), rnd.nextInt(64)}).toArray(int[][]::new));
            counts[i] = count(handles[i]);
        }
        int baseline = aliveWhenDrained();
        for (int h : handles) {
            for (int k = 0; k < 1000; k++) {
                BDDNativeProxy.doIncRefCount(h);
            }
        }
        // Four threads; a round gives one reference back on each of a thread's handles, so the
        // counts fall slowly while the engine uses the same nodes.
        ExecutorService threads = Executors.newFixedThreadPool(4);
        List<Future<?>> workers = IntStream.range(0, 4).<Future<?>>mapToObj(t -> threads.submit(() -> {
            for (int round = 0; round < 1000; round++) {
                for (int i = t; i < handles.length; i += 4) {
                    BDDNativeProxy.doDecRefCount(handles[i]);
                }
            }
        })).toList();
        for (int rounds = 1; workers.stream().anyMatch(w -> !w.isDone()); rounds++) {
            int i = rnd.nextInt(handles.length);
            int j = rnd.nextInt(handles.length);
            int u = BDDNativeProxy.doUnite(handles[i], handles[j]);
            int x = BDDNativeProxy.doIntersect(handles[i], handles[j]);
            int c = BDDNativeProxy.doComplement(x);
            int grown = BDDNativeProxy.doAddTuple(u, FIRST, WIDTH, new int[] {rnd.nextInt(64), rnd.nextInt(64)});
            int p = BDDNativeProxy.doExists(grown, 0, 6);
            assertEquals(counts[i] + counts[j], count(u) + count(x));
            assertEquals(4096, count(x) + count(c));
            assertTrue(BDDNativeProxy.doSuperset(u, handles[i]) && BDDNativeProxy.doSuperset(u, handles[j])
                    && BDDNativeProxy.doSuperset(grown, u) && BDDNativeProxy.doSuperset(p, grown));
            assertEquals(count(grown), BDDNativeProxy.doSuperset(u, grown) ? count(u) : count(u) + 1);
            release(u, x, grown, c, p);
            if (rounds % 64 == 0) {
                BDDManagerNativeProxy.doCollectGarbage();
            }
        }
        for (Future<?> w : workers) {
            w.get();
        }
        threads.shutdown();
        assertEquals(baseline, aliveWhenDrained(), "every extra reference was given back exactly once");
        for (int i = 0; i < handles.length; i++) {
            assertEquals(counts[i], count(handles[i]));
        }
        release(handles);
        assertEquals(0, aliveWhenDrained());
    }
}
