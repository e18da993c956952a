package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.refused;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.release;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import java.util.SplittableRandom;
import java.util.concurrent.CountDownLatch;
import org.junit.jupiter.api.Test;

/**
 * A watched operation reports the nodes it makes, and stops cleanly when its callback or another
 * thread cancels it: nothing stays behind, the sets held are unchanged, and the next call answers.
 */
class WatchTest {
    @Test
    void aWatchedOperationReportsProgressAndStopsCleanlyWhenCancelled() throws Exception {
        BDDManagerNativeProxy.doInit(1 << 22, 1 << 20, 1000, true);
        int[] vars = new int[40];
        for (int i = 0; i < vars.length; i++) {
            vars[i] = i;
        }
        int[] tuples = new int[2 * 1000];
        SplittableRandom random = new SplittableRandom(11);
        for (int i = 0; i < tuples.length; i++) {
            tuples[i] = random.nextInt(1 << 20);
        }
        int set = BDDFieldNativeProxy.doAddTuples(BDDManagerNativeProxy.doGetZero(), vars, new int[] {20, 20}, tuples);
        int held = aliveWhenDrained();

        // The callback cancels at its third check: reports came before, with more nodes each time.
        StreamSupport.Recorder byCallback = new StreamSupport.Recorder();
        byCallback.stopAt = 3;
        BDDEngineNativeProxy.doWatch(byCallback, 1000);
        refused("Cancelled", () -> BDDNativeProxy.doComplement(set));
        assertEquals(List.of("1000/-1 null", "2000/-1 null"), byCallback.reports);
        refused("Cancelled", () -> BDDNativeProxy.doComplement(set)); // the watch stays cancelled
        BDDEngineNativeProxy.doUnwatch();
        assertEquals(held, aliveWhenDrained(), "the cancelled operations left nothing behind");

        // Another thread cancels while the engine thread waits inside the first report.
        CountDownLatch reported = new CountDownLatch(1);
        CountDownLatch sent = new CountDownLatch(1);
        StreamSupport.Recorder waiting = new StreamSupport.Recorder();
        waiting.onReport = () -> {
            reported.countDown();
            try {
                sent.await();
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        };
        Thread canceller = new Thread(() -> {
            try {
                reported.await();
            } catch (InterruptedException e) {
                return;
            }
            BDDEngineNativeProxy.doCancel();
            sent.countDown();
        });
        canceller.start();
        BDDEngineNativeProxy.doWatch(waiting, 2000);
        refused("Cancelled", () -> BDDNativeProxy.doComplement(set));
        canceller.join();
        BDDEngineNativeProxy.doUnwatch();
        assertEquals(1, waiting.reports.size());
        assertEquals(held, aliveWhenDrained());

        // Without a watch a cancellation does nothing, and the engine answers right.
        BDDEngineNativeProxy.doCancel();
        int outside = BDDNativeProxy.doComplement(set);
        int back = BDDNativeProxy.doComplement(outside);
        assertEquals(set, back);
        assertTrue(BDDNativeProxy.doGetNumOfNodes(outside) > 0);
        release(outside, back, set);
        assertEquals(0, aliveWhenDrained());
    }
}
