package com.zvk.quarnelbrisk.bdd.typed;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDEngineNativeProxy;
import java.math.BigInteger;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Random;
import java.util.concurrent.CancellationException;
import java.util.concurrent.CompletableFuture;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/**
 * Watched operations report the nodes they make and stop when cancelled by their progress callback,
 * by another thread or by their time limit: a CancellationException, nothing left in the store, the
 * sets held unchanged, and right answers once the watch is closed.
 */
class CancellationTest {
    @Test
    void cancelledOperationsLeaveNothingBehindAndTheEngineAnswersAfterwards() throws Exception {
        Engine e = Engine.start();
        Field x = e.field("x", 20);
        Field y = e.field("y", 20);
        Field z = e.field("z", 20);
        Layout l = e.layout(x, y);
        Random r = new Random(5);
        List<int[]> tuples = IntStream.range(0, 1000).mapToObj(i -> new int[] {r.nextInt(1 << 20), r.nextInt(1 << 20)}).toList();
        try (TupleSet big = e.of(l, tuples); TupleSet one = e.tuple(l, 1, 2); TupleSet other = e.tuple(l, 3, 4);
                TupleSet both = big.union(one)) {
            one.toDot();  // leaves the operation cache alone: the union is still a hit, which takes no step
            try (Engine.Watch w = e.watch(null)) {
                w.cancel();
                try (TupleSet again = big.union(one)) {
                    assertEquals(both, again);
                }
                assertThrows(CancellationException.class, () -> big.union(other));
            }
            BigInteger count = big.count();
            List<TupleSet> open = List.of(big, one, other, both);
            e.drain();
            assertEquals(e.nodeCount(open), e.stats().liveNodes());

            // The callback cancels at its third report; later operations of the watch stop at once,
            // and a consuming variant keeps its receiver open.
            List<String> reports = new ArrayList<>();
            Engine.Watch.nodesBetweenReports = 1000;
            try (Engine.Watch w = e.watch((done, total) -> reports.add(done + "/" + total) && reports.size() < 3)) {
                assertThrows(CancellationException.class, big::complement);
                assertEquals(List.of("1000/-1", "2000/-1", "3000/-1"), reports);
                assertTrue(w.isCancelled());
                for (Executable cancelled : List.<Executable>of(() -> big.intersect(other), () -> big.project(y),
                        () -> big.join(one, y), () -> big.rename(y, z), big::count, () -> big.stream().count(),
                        () -> big.minusWith(one), () -> big.withAll(tuples.subList(0, 9)))) {
                    assertThrows(CancellationException.class, cancelled);
                }
                assertFalse(big.isClosed());
            }
            // Another thread cancels while the engine waits in the first report.
            Engine.Watch[] watch = new Engine.Watch[1];
            try (Engine.Watch w = e.watch((done, total) -> CompletableFuture.runAsync(watch[0]::cancel).thenApply(v -> true).join())) {
                watch[0] = w;
                assertThrows(CancellationException.class, () -> big.rename(Map.of(x, y, y, x)));
            } finally {
                Engine.Watch.nodesBetweenReports = 1 << 16;
            }
            // A time limit cancels by itself; a cancel after the close reaches no later watch.
            Engine.Watch late;
            try (Engine.Watch w = e.watch(null, Duration.ZERO)) {
                while (!w.isCancelled()) {
                    Thread.sleep(1);
                }
                assertThrows(CancellationException.class, big::complement);
                late = w;
            }
            late.cancel();
            BDDEngineNativeProxy.doCancel();  // without a watch: nothing
            e.drain();
            assertEquals(e.nodeCount(open), e.stats().liveNodes(), "the cancelled operations left nothing behind");
            try (Engine.Watch w = e.watch(null, Duration.ofDays(1)); TupleSet rest = big.complement()) {
                assertEquals(BigInteger.ONE.shiftLeft(40).subtract(count), rest.count());
                assertFalse(w.isCancelled());
            }
        }
    }
}
