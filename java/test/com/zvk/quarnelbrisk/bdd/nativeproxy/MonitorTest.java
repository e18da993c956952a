package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveAfterCollection;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveNodes;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.assertNativeError;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.freshEngine;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

class MonitorTest {
    /** Holds the engine's monitor on a thread of its own until {@link #close}. */
    private static final class HeldMonitor {
        private final CountDownLatch held = new CountDownLatch(1);
        private final CountDownLatch letGo = new CountDownLatch(1);
        private final Thread thread = new Thread(() -> {
            synchronized (BDDNativeProxy.syncObject) {
                held.countDown();
                awaitUninterruptibly(letGo);
            }
        });

        HeldMonitor() throws InterruptedException {
            thread.start();
            assertTrue(held.await(30, TimeUnit.SECONDS));
        }

        void close() {
            letGo.countDown();
            while (thread.isAlive()) {
                try {
                    thread.join();
                } catch (InterruptedException e) {
                    // the holder ends as soon as it sees the latch
                }
            }
        }
    }

    private static void awaitUninterruptibly(CountDownLatch latch) {
        while (true) {
            try {
                latch.await();
                return;
            } catch (InterruptedException e) {
                // keep holding until told to let go
            }
        }
    }

    private static void awaitBlocked(Thread t) throws InterruptedException {
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(30);
        while (t.getState() != Thread.State.BLOCKED) {
            assertTrue(System.nanoTime() < deadline, "thread never blocked on the monitor");
            assertTrue(t.isAlive(), "thread finished without blocking");
            Thread.sleep(1);
        }
    }

    @Test
    void aHeldMonitorBlocksReleasesButNotAnIdleCollection() throws Exception {
        freshEngine(1 << 20, 1 << 20, 100, true);
        int chain = BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 4, 3);
        Thread releaser = new Thread(() -> BDDNativeProxy.doDecRefCount(chain));
        HeldMonitor monitor = new HeldMonitor();
        try {
            releaser.start();
            awaitBlocked(releaser);
            // Nothing is queued yet, so a collection does not touch the monitor.
            BDDManagerNativeProxy.doCollectGarbage();
            assertEquals(4, aliveNodes());
        } finally {
            monitor.close();
        }
        releaser.join();
        assertEquals(3, aliveAfterCollection(), "the release went through once the monitor was free");
    }

    @Test
    void aCollectionWaitsForTheMonitorAndACallMeanwhileIsRefused() throws Exception {
        freshEngine(1 << 20, 1 << 20, 100, true);
        int chain = BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 4, 3);
        BDDNativeProxy.doDecRefCount(chain);
        Thread collector = new Thread(BDDManagerNativeProxy::doCollectGarbage);
        HeldMonitor monitor = new HeldMonitor();
        try {
            collector.start();
            awaitBlocked(collector);
            assertNativeError("Assert failed: Concurrent or reentrant call", BDDManagerNativeProxy::doGetOne);
            assertNativeError("Assert failed: Concurrent or reentrant call",
                    () -> BDDManagerNativeProxy.doMakeSingleTupleUnary(10, 2, 1));
        } finally {
            monitor.close();
        }
        collector.join();
        assertEquals(3, aliveNodes());
        assertEquals(BDDManagerNativeProxy.doGetOne(), BDDManagerNativeProxy.doGetOne());
    }

    @Test
    void releasesOfOldHandlesDuringARestartStayHarmless() throws Exception {
        freshEngine(1 << 20, 1 << 20, 100, true);
        java.util.concurrent.atomic.AtomicBoolean stop = new java.util.concurrent.atomic.AtomicBoolean();
        Thread stale = new Thread(() -> {
            for (int h = 1; !stop.get(); h = h % 3000 + 1) {
                try {
                    BDDNativeProxy.doDecRefCount(h);
                } catch (NativeBDDException e) {
                    // out of range for the store of the moment
                }
            }
        });
        stale.start();
        try {
            // The stale releases hit nodes of the new stores, so collections may well report
            // negative counts; what must never happen is a write into a store that is gone.
            for (int round = 0; round < 30; round++) {
                freshEngine(1 << 20, 1 << 20, 100, true);
                try {
                    for (int v = 0; v < 2000; v++) {
                        BDDManagerNativeProxy.doMakeSingleTupleUnary(v, 1, 1);
                    }
                } catch (NativeBDDException e) {
                    assertEquals("Assert failed: Negative refcount", e.getMessage());
                }
            }
        } finally {
            stop.set(true);
            stale.join();
        }
        freshEngine(1 << 20, 1 << 20, 100, true);
        int n = BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 8, 77);
        assertEquals(n, BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 8, 77));
        assertEquals(8, aliveAfterCollection());
    }

    @Test
    void releasesFromManyThreadsAreAllCounted() throws Exception {
        freshEngine(1 << 20, 1 << 20, 100, true);
        int node = BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 1, 1);
        int threads = 4;
        int perThread = 2000;
        for (int i = 0; i < threads * perThread; i++) {
            BDDNativeProxy.doIncRefCount(node);
        }
        Thread[] workers = new Thread[threads];
        for (int t = 0; t < threads; t++) {
            workers[t] = new Thread(() -> {
                for (int i = 0; i < perThread; i++) {
                    BDDNativeProxy.doDecRefCount(node);
                }
            });
            workers[t].start();
        }
        // The engine thread keeps collecting while the releases arrive.
        boolean running = true;
        while (running) {
            BDDManagerNativeProxy.doCollectGarbage();
            running = false;
            for (Thread w : workers) {
                running |= w.isAlive();
            }
        }
        for (Thread w : workers) {
            w.join();
        }
        assertEquals(1, aliveAfterCollection(), "every release but the creator's own was carried out");
        BDDNativeProxy.doDecRefCount(node);
        assertEquals(0, aliveAfterCollection());
    }
}
