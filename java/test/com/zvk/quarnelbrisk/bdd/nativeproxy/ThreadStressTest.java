package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.freshEngine;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.release;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.BitSet;
import java.util.Random;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.Test;

/**
 * Releases from other threads while the engine thread computes and collects. Every set is a few
 * tuples of two 6-bit fields, with a plain bit-set model beside it; every result is counted against
 * the model, and at the end the drained store holds exactly what the kept sets need.
 */
class ThreadStressTest {
    private static final int[] FIRST = {0, 6};
    private static final int[] WIDTH = {6, 6};
    private static final int[] BOUND = {64, 64};
    private static final int VALUES = 64 * 64;

    /** Sets held by the test with their models. */
    private static final class Sets {
        final int[] handles;
        final BitSet[] models;

        Sets(Random rnd, int count) {
            handles = new int[count];
            models = new BitSet[count];
            for (int i = 0; i < count; i++) {
                models[i] = new BitSet(VALUES);
                int set = BDDManagerNativeProxy.doGetZero();
                for (int t = 1 + rnd.nextInt(6); t > 0; t--) {
                    int code = rnd.nextInt(VALUES);
                    int next = addCode(set, code);
                    release(set);
                    set = next;
                    models[i].set(code);
                }
                handles[i] = set;
            }
        }
    }

    private static int addCode(int set, int code) {
        return BDDNativeProxy.doAddTuple(set, FIRST, WIDTH, new int[] {code >> 6, code & 63});
    }

    private static int count(int set) {
        return BDDNativeProxy.doGetNumOfTuples(set, FIRST, WIDTH, BOUND);
    }

    private static BitSet union(BitSet a, BitSet b) {
        BitSet r = (BitSet) a.clone();
        r.or(b);
        return r;
    }

    private static BitSet intersection(BitSet a, BitSet b) {
        BitSet r = (BitSet) a.clone();
        r.and(b);
        return r;
    }

    /** One round of engine work on two held sets; every result is checked and given back. */
    private static void computeAndCheck(Random rnd, Sets s) {
        int i = rnd.nextInt(s.handles.length);
        int j = rnd.nextInt(s.handles.length);
        int u = BDDNativeProxy.doUnite(s.handles[i], s.handles[j]);
        int x = BDDNativeProxy.doIntersect(s.handles[i], s.handles[j]);
        int code = rnd.nextInt(VALUES);
        int grown = addCode(u, code);
        int c = BDDNativeProxy.doComplement(x);
        int p = BDDNativeProxy.doExists(grown, 0, 6);
        BitSet um = union(s.models[i], s.models[j]);
        assertEquals(um.cardinality(), count(u));
        assertEquals(intersection(s.models[i], s.models[j]).cardinality(), count(x));
        assertEquals(VALUES - count(x), count(c));
        um.set(code);
        assertEquals(um.cardinality(), count(grown));
        assertTrue(BDDNativeProxy.doSuperset(p, grown));
        release(u, x, grown, c, p);
    }

    @Test
    void aMillionReleasesFromFourThreadsWhileTheEngineComputesAreCountedExactly() throws Exception {
        // A collection every 51 creations: make-node takes the monitor all the time.
        freshEngine(1 << 20, 1 << 18, 50, true);
        Random rnd = new Random(11);
        int threads = 4;
        int extra = 1000;
        Sets s = new Sets(rnd, 1000);
        int baseline = aliveWhenDrained();
        for (int h : s.handles) {
            for (int k = 0; k < extra; k++) {
                BDDNativeProxy.doIncRefCount(h);
            }
        }
        AtomicInteger released = new AtomicInteger();
        AtomicReference<Throwable> failure = new AtomicReference<>();
        Thread[] workers = new Thread[threads];
        for (int t = 0; t < threads; t++) {
            int first = t;
            workers[t] = new Thread(() -> {
                try {
                    // A round gives one reference back on each of this thread's handles, so the
                    // counts fall slowly while the engine uses the same nodes.
                    for (int round = 0; round < extra; round++) {
                        for (int i = first; i < s.handles.length; i += threads) {
                            BDDNativeProxy.doDecRefCount(s.handles[i]);
                            released.incrementAndGet();
                        }
                    }
                } catch (Throwable e) {
                    failure.compareAndSet(null, e);
                }
            });
        }
        long start = System.nanoTime();
        for (Thread w : workers) {
            w.start();
        }
        int rounds = 0;
        boolean running = true;
        while (running) {
            computeAndCheck(rnd, s);
            if (++rounds % 64 == 0) {
                BDDManagerNativeProxy.doCollectGarbage();
            }
            running = false;
            for (Thread w : workers) {
                running |= w.isAlive();
            }
        }
        for (Thread w : workers) {
            w.join();
        }
        long millis = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start);
        assertNull(failure.get());
        assertEquals(extra * s.handles.length, released.get());
        int drained = aliveWhenDrained();
        System.out.println("Thread stress: " + released.get() + " releases from " + threads + " threads, "
                + rounds + " engine rounds, " + millis + " ms; alive when drained " + drained
                + " (kept sets need " + baseline + ")");
        assertEquals(baseline, drained, "every extra reference was given back exactly once");
        for (int i = 0; i < s.handles.length; i++) {
            assertEquals(s.models[i].cardinality(), count(s.handles[i]));
        }
        release(s.handles);
        assertEquals(0, aliveWhenDrained());
    }
}
