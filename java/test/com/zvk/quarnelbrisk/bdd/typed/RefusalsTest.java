package com.zvk.quarnelbrisk.bdd.typed;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.io.ByteArrayOutputStream;
import java.util.List;
import java.util.Map;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/**
 * Every refusal that the layer documents, with the exception it documents, made before any native
 * runs, so that nothing changes in the store (files are refused in SetFileTest).
 */
class RefusalsTest {
    private static void refused(Class<? extends Throwable> type, Executable... calls) {
        for (int i = 0; i < calls.length; i++) {
            assertThrows(type, calls[i], type.getSimpleName() + " #" + i);
        }
    }

    @Test
    void everyDocumentedRefusal() {
        Engine.Settings s = Engine.Settings.DEFAULTS;
        Engine first = Engine.start();
        Field foreign = first.field("a", 8);
        TupleSet old = first.all(Layout.of(foreign));
        Engine e = Engine.start();
        Field a = e.field("a", 8);
        Field b = e.field("b", 8);
        Field c = e.field("c", 8);
        Field d = e.domain("d", 3000);
        Field big = e.domain("big", 4000);
        Field w = e.field("w", 12);
        Layout ab = e.layout(a, b);
        Layout dl = e.layout(d);
        try (TupleSet r = e.tuple(ab, 1, 2); TupleSet two = e.of(dl, List.of(new int[] {0}, new int[] {1}));
                TupleSet onBig = two.rename(d, big);
                TupleSet huge = e.all(e.layout(e.field("x", 30), e.field("y", 30), e.field("z", 30)));
                Engine.Watch watch = e.watch(null)) {
            TupleSet closed = e.tuple(ab, 3, 4);
            closed.close();
            refused(IllegalArgumentException.class,
                    // settings, declarations, layouts
                    () -> s.withTableBounds(0, 1), () -> s.withTableBounds(1, 0), () -> s.withGarbageCollectRate(0),
                    () -> e.field("a", 4), () -> e.field("n", 0), () -> e.field("n", 31), () -> e.interleaved(31, "n"),
                    () -> e.interleaved(4, "n", "n"), () -> e.interleaved(4), () -> e.domain("n", 0),
                    () -> e.domain("n", (1L << 30) + 1), () -> e.field("none"), () -> e.layout(a, a),
                    () -> e.layout(a, foreign), () -> Layout.of(), () -> ab.field("c"),
                    // tuples, and sets of other layouts, fields or engines
                    () -> e.tuple(ab, 1), () -> e.tuple(dl, 3000), () -> e.tuple(dl, -1), () -> two.with(3000),
                    () -> e.empty(Layout.of(foreign)), () -> e.equal(a, w), () -> e.plus(a, w, 1), () -> two.union(r),
                    () -> r.minus(e.empty(e.layout(a, c))), () -> r.project(d), () -> r.join(two, a),
                    () -> r.join(two, d), () -> e.save(new ByteArrayOutputStream(), List.of(r, old), null),
                    () -> e.nodeCount(List.of(r, old)),
                    // renamings: another width, a smaller domain, two onto one, onto a field that stays
                    () -> two.rename(d, a), () -> onBig.rename(big, d), () -> r.rename(Map.of(a, c, b, c)),
                    () -> r.rename(Map.of(a, b)),
                    // listings
                    () -> r.tuples(3, new int[] {-1, 5}), () -> r.tuples(3, new int[] {5}), () -> r.streamFrom(1),
                    () -> r.streamFrom(1, 256), () -> new Tuple(ab, new int[] {1, 2}).get(d));
            refused(NullPointerException.class, () -> e.field(null, 4), () -> e.domain(null, 4),
                    () -> e.interleaved(4, "n", null));
            refused(IllegalStateException.class, () -> e.watch(null), closed::count, closed::stream, () -> r.union(closed),
                    old::count, () -> old.union(r), () -> first.layout(foreign),
                    () -> e.interleaved(30, IntStream.range(0, 1100).mapToObj(i -> "v" + i).toArray(String[]::new)));
            refused(ArithmeticException.class, huge::countLong);
            e.drain();
            assertEquals(List.of((long) e.nodeCount(List.of(r, two, onBig, huge)), false),
                    List.of(e.stats().liveNodes(), watch.isCancelled()));
        }
    }
}
