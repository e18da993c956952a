package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveAfterCollection;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveNodes;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.assertNativeError;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.freshEngine;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zvk.quarnelbrisk.ui.ThreadCallback;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

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
    void whileACallRunsEveryOtherNativeFromASecondThreadIsRefused() throws Exception {
        freshEngine(1 << 20, 1 << 20, 100, true);
        int a = BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 4, 3);
        int b = BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 4, 5);
        int u = BDDNativeProxy.doUnite(a, b);
        int[] expected = StreamSupport.write(u, a);
        // The engine thread stays inside doSerialize, in its first progress report, until let go.
        CountDownLatch inside = new CountDownLatch(1);
        CountDownLatch letGo = new CountDownLatch(1);
        ThreadCallback holding = new ThreadCallback() {
            @Override
            public boolean checkCancelled() {
                return false;
            }

            @Override
            public void informProgress(int done, int total, String message) {
                inside.countDown();
                awaitUninterruptibly(letGo);
            }
        };
        StreamSupport.Capture out = new StreamSupport.Capture(false);
        AtomicReference<Throwable> failure = new AtomicReference<>();
        Thread engine = new Thread(() -> {
            try {
                BDDManagerNativeProxy.doSerialize(out, new int[] {u, a}, holding, 1.0, "w");
            } catch (Throwable e) {
                failure.set(e);
            }
        });
        engine.start();
        try {
            assertTrue(inside.await(30, TimeUnit.SECONDS));
            int[] f = {0, 2};
            int[] w = {2, 2};
            int[] v = {1, 3};
            List<Executable> calls = List.of(
                    () -> BDDManagerNativeProxy.doInit(1 << 20, 1 << 20, 100, true),
                    BDDManagerNativeProxy::doCollectGarbage,
                    BDDManagerNativeProxy::doGetInfo,
                    BDDManagerNativeProxy::doGetZero,
                    BDDManagerNativeProxy::doGetOne,
                    () -> BDDManagerNativeProxy.doMakeEquals(1, 2),
                    () -> BDDManagerNativeProxy.doMakeSingleTupleUnary(8, 2, 1),
                    () -> BDDManagerNativeProxy.doMakeSingleTuple(f, w, v),
                    () -> BDDManagerNativeProxy.doSerialize(new StreamSupport.Capture(false), new int[] {a}, null, 1.0, ""),
                    () -> BDDManagerNativeProxy.doDeserialize(new StreamSupport.Feed((Object) expected), null, 1.0, ""),
                    () -> BDDNativeProxy.doIncRefCount(a),
                    () -> BDDNativeProxy.doIntersect(a, b),
                    () -> BDDNativeProxy.doUnite(a, b),
                    () -> BDDNativeProxy.doComplement(a),
                    () -> BDDNativeProxy.doExistsVar(u, 1),
                    () -> BDDNativeProxy.doExists(u, 0, 2),
                    () -> BDDNativeProxy.doTestVars(u, 0, 2),
                    () -> BDDNativeProxy.doRename(u, 0, 4, 4),
                    () -> BDDNativeProxy.doRelprod(a, u, 0, 2),
                    () -> BDDNativeProxy.doSuperset(u, a),
                    () -> BDDNativeProxy.doGetNTuples(u, f, w, new int[] {4, 4}, -1),
                    () -> BDDNativeProxy.doGetNumOfTuples(u, f, w, new int[] {4, 4}),
                    () -> BDDNativeProxy.doGetNumOfNodes(u),
                    () -> BDDNativeProxy.doAddTuple(u, f, w, v));
            for (Executable call : calls) {
                assertNativeError("Assert failed: Concurrent or reentrant call", call);
            }
            // The two natives without a frame still work: a release is queued, the size is read.
            assertTrue(BDDManagerNativeProxy.doGetMemoryState() > 0);
            BDDNativeProxy.doDecRefCount(b);
        } finally {
            letGo.countDown();
            engine.join();
        }
        assertEquals(null, failure.get());
        assertEquals(1, out.written.size());
        assertArrayEquals(expected, (int[]) out.written.get(0),
                "the interrupted call went on undisturbed");
        // b's release was carried out once; u and a are intact, nothing else changed.
        assertEquals(aliveNodes() - 1, aliveAfterCollection());
        assertEquals(2, BDDNativeProxy.doGetNumOfTuples(u, new int[] {0}, new int[] {4}, new int[] {16}));
        assertEquals(u, BDDNativeProxy.doUnite(a, BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 4, 5)));
    }
}
