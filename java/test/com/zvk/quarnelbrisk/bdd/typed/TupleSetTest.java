package com.zvk.quarnelbrisk.bdd.typed;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.Iterator;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.Random;
import java.util.Set;
import java.util.concurrent.TimeUnit;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class TupleSetTest {
    @Test
    void countsAboveTwoTo32And64AreExact() {
        Engine e = Engine.start();
        Field k = e.field("k", 12);
        Layout free = e.layout(e.field("f1", 30), e.field("f2", 30), e.field("f3", 30), e.field("f4", 30));
        List<int[]> keys = new Random(7).ints(0, 4096).distinct().limit(3000).mapToObj(v -> new int[] {v}).toList();
        BigInteger freeCount = BigInteger.ONE.shiftLeft(120);
        try (TupleSet some = e.of(e.layout(k), keys); TupleSet all = e.all(free); TupleSet a = some.join(all);
                TupleSet outside = a.complement(); TupleSet twoFields = a.project(k, free.fields().get(0));
                TupleSet one = e.tuple(e.layout(k), 1); TupleSet twoTo64 = one.join(e.all(e.layout(free.fields().get(0),
                        free.fields().get(1), e.field("g", 4))))) {
            assertEquals(freeCount.multiply(BigInteger.valueOf(3000)), a.count());
            assertEquals(freeCount.multiply(BigInteger.valueOf(1096)), outside.count());
            assertEquals(3000L << 30, twoFields.countLong()); // above 2^32, below 2^64
            assertEquals(BigInteger.ONE.shiftLeft(64), twoTo64.count()); // where a count leaves 64 bits
        }
    }

    @Test
    void setsThatAProgramDropsAreReleasedFromTheCleanerThreadWhileTheEngineComputes() throws Exception {
        Engine e = Engine.start(Engine.Settings.DEFAULTS.withGarbageCollectRate(50));
        Field x = e.field("x", 12);
        Layout l = e.layout(x, e.field("y", 12));
        Random r = new Random(3);
        Set<List<Integer>> model = new HashSet<>();
        TupleSet acc = e.empty(l);
        for (int i = 0; i < 1500; i++) {
            int v = r.nextInt(1 << 12);
            int w = r.nextInt(1 << 12);
            model.add(List.of(v, w));
            // Neither the single tuple nor the previous accumulator is closed: the cleaner releases them.
            acc = acc.union(e.tuple(l, v, w)).union(acc.project(x).join(e.tuple(l, v, w)).complement().complement());
            if (i % 500 == 0) {
                System.gc();
            }
        }
        assertEquals(model.size(), acc.countLong());
        acc.close();
        long alive = -1;
        for (long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(60); alive != 0 && System.nanoTime() < deadline;) {
            System.gc();
            Thread.sleep(20);
            e.drain();
            alive = e.stats().liveNodes();
        }
        assertEquals(0, alive, "every dropped set was released once, and no set in use was");
    }

    @Test
    void wideLayoutsFindTheirFields() {
        // Past a few fields a layout looks its fields up in a table; the answers are those of the list.
        Engine e = Engine.start();
        List<Field> f = IntStream.range(0, 12).mapToObj(i -> e.field("wide" + i, 1)).toList();
        Field spare = e.field("spare", 1);
        Layout l = e.layout(f.toArray(new Field[0]));
        Layout reversed = e.layout(IntStream.range(0, 12).mapToObj(i -> f.get(11 - i)).toArray(Field[]::new));
        Layout swapped = l.change(List.of(f.get(11)), List.of(spare));
        int[] v = new int[12];
        int[] rv = new int[12];
        v[3] = rv[8] = 1;
        try (TupleSet s = e.tuple(l, v); TupleSet back = e.tuple(reversed, rv); TupleSet kept = s.project(f.get(3), f.get(0));
                TupleSet moved = s.rename(f.get(3), spare)) {
            assertEquals(List.of(3, -1, 11, true, false, true), List.of(l.indexOf(f.get(3)), l.indexOf(spare),
                    reversed.indexOf(f.get(0)), l.sameFields(reversed), l.sameFields(swapped), s.sameTuplesAs(back)));
            assertEquals("[(wide3=1, wide0=0)] 3", kept.tuples() + " " + moved.layout().indexOf(spare));
            assertThrows(IllegalArgumentException.class, () -> s.union(e.empty(swapped)));
        }
    }

    @Test
    void fieldsOnAnyVariablesAndDomainsOfAnySize() {
        Engine e = Engine.start();
        Field a = e.field("a", 8);
        Field b = e.field("b", 8);
        Layout ab = e.layout(a, b);
        Layout ba = e.layout(b, a);
        // A layout keeps the caller's order: tuples are built, listed and printed in it. A swap of
        // the two fields transposes in place, and a projection gives any order. Sets are equal when
        // their layouts and tuples are.
        TupleSet r = e.of(ab, List.of(new int[] {1, 2}, new int[] {3, 4}));
        try (TupleSet u = e.tuple(ba, 4, 3).then(t -> t.union(r)); TupleSet back = u.project(a, b);
                TupleSet transposed = r.rename(Map.of(a, b, b, a)); TupleSet again = transposed.project(a, b)) {
            assertEquals("[(b=2, a=1), (b=4, a=3)] [(a=2, b=1), (a=4, b=3)]", u.tuples() + " " + again.tuples());
            assertEquals(List.of(false, ba, false, true, true, true, false), List.of(ab.equals(ba), transposed.layout(),
                    r.equals(u), r.sameTuplesAs(u), r.equals(back), r.hashCode() == back.hashCode(), r.equals(again)));
            // Consuming variants close the set they are asked of once the result is made; a closed set
            // equals only itself.
            TupleSet copy = r.copy();
            TupleSet i = copy.minusWith(back).unionWith(again).intersectWith(again).then(x -> x.rename(Map.of(a, b, b, a)));
            assertEquals(List.of(true, false, true), List.of(copy.isClosed(), i.isClosed(), i.equals(u)));
            i.close();
            assertEquals(List.of(false, true), List.of(i.equals(u), i.equals(i)));
        }
        r.close();
        // Interleaved fields: the bits alternate, and the builders take at most 10 nodes a bit.
        for (int w = 8; w <= 24; w += 8) {
            List<Field> xy = e.interleaved(w, "x" + w, "y" + w);
            int x0 = xy.get(0).firstVar();
            assertEquals(List.of(2 * w - 2, 2 * w - 1), List.of(xy.get(0).vars()[w - 1] - x0, xy.get(1).vars()[w - 1] - x0));
            try (TupleSet eq = e.equal(xy.get(0), xy.get(1)); TupleSet plus = e.plus(xy.get(0), xy.get(1), w);
                    TupleSet range = e.range(xy.get(1), 5, 1 << (w - 1))) {
                assertEquals(List.of(1L << w, (1L << w) - w, (1L << w - 1) - 4, xy),
                        List.of(eq.countLong(), plus.countLong(), range.countLong(), plus.layout().fields()));
                assertTrue(Math.max(eq.nodeCount(), Math.max(plus.nodeCount(), range.nodeCount())) <= 10 * w);
            }
        }
        // A domain of 3000 values on 12 bits: complement and listings stay inside it, also moved to a larger one.
        Field d = e.domain("d", 3000);
        assertEquals(List.of(12, 3000, "d[3000]:12@" + d.firstVar()), List.of(d.width(), d.size(), d.toString()));
        try (TupleSet rest = e.of(e.layout(d), List.of(new int[] {0}, new int[] {1})).then(TupleSet::complement);
                TupleSet moved = rest.rename(d, e.domain("big", 4000))) {
            assertEquals(List.of(2998L, 2998L, "[(d=2998), (d=2999)]"),
                    List.of(rest.countLong(), moved.countLong(), rest.stream().skip(2996).toList().toString()));
        }
    }

    @Test
    void listingsAreLazyAndGoOnWhereAPageEnded() {
        Engine e = Engine.start();
        Layout l = e.layout(e.field("n", 20), e.field("m", 20));
        // 2^40 tuples, a million of them listed a page at a time; a page ends at 4096.
        TupleSet all = e.all(l);
        try (TupleSet some = e.of(l, List.of(new int[] {9, 1}, new int[] {3, 5}, new int[] {3, 7}));
                TupleSet none = e.empty(l)) {
            assertEquals(new Tuple(l, new int[] {0, 999_999}), all.stream().skip(999_999).findFirst().orElseThrow());
            assertEquals(all.tuples(5000, null), all.stream().limit(5000).toList());
            assertEquals("[(n=3, m=7), (n=9, m=1)] (n=3, m=5)", some.streamFrom(3, 6).toList() + " " + some.anyTuple().get());
            assertEquals(List.of(Optional.empty(), 0L), List.of(none.anyTuple(), none.stream().count()));
            Iterator<Tuple> open = all.stream().iterator();
            IntStream.range(0, 4096).forEach(i -> open.next());
            all.close();
            assertThrows(IllegalStateException.class, open::next, "a closed set lists no next page");
        }
    }

    @Test
    void drainLeavesWhatTheOpenSetsReachAndTheFiguresFollowTheStore() {
        Engine e = Engine.start();
        Layout l = e.layout(e.field("a", 16), e.domain("b", 1000));
        TupleSet kept = e.of(l, new Random(1).ints(5000, 0, 1000).mapToObj(v -> new int[] {7 * v, v}).toList());
        long collections = e.stats().collections();
        kept.complement().then(c -> c.project(l.fields().get(1))).close();
        try (TupleSet c = kept.complement()) {
            Engine.Stats s = e.stats();
            c.toDot();
            assertEquals(List.of(s, true), List.of(e.stats(), s.opCacheOccupied() > 0 && s.opCacheEntries() >= s.opCacheOccupied()
                    && s.records() > s.liveNodes() && s.totalBytes() > s.recordBytes() + s.uniqueTableBytes()), "toDot keeps the cache");
        }
        e.drain();
        assertEquals(List.of((long) kept.nodeCount(), true), List.of(e.stats().liveNodes(), e.stats().collections() > collections));
        kept.close();
        e.drain();
        assertEquals(0, e.stats().liveNodes());
    }

    @Test
    void theDotTextOfASmallSetLabelsFieldAndBit() {
        Engine e = Engine.start();
        // The one tuple (2, 1): a is binary 10, b is 1.
        Layout l = e.layout(e.field("a", 2), e.field("b", 1));
        try (TupleSet s = e.tuple(l, 2, 1)) {
            assertEquals("""
                    digraph tuples {
                      // tuples over (a:2@0, b:1@2); dashed: bit 0, solid: bit 1
                      node [shape=ellipse];
                      set [shape=plaintext, label="set"];
                      n4 [label="b bit 0"];
                      n4 -> n0 [style=dashed];
                      n4 -> n1;
                      n3 [label="a bit 0"];
                      n3 -> n4 [style=dashed];
                      n3 -> n0;
                      n2 [label="a bit 1"];
                      n2 -> n0 [style=dashed];
                      n2 -> n3;
                      n0 [shape=box, label="0"];
                      n1 [shape=box, label="1"];
                      set -> n2;
                    }
                    """, s.toDot());
        }
    }

    @Test
    void aChildVirtualMachineLoadsTheEngineWithOnlyTheJar(@TempDir Path dir) throws Exception {
        Path source = dir.resolve("Child.java");
        Files.writeString(source, """
                import com.zvk.quarnelbrisk.bdd.typed.*;
                public class Child {
                    public static void main(String[] args) throws Exception {
                        Engine e = Engine.start();
                        Layout l = e.layout(e.field("n", 40 / 2), e.field("m", 20));
                        System.out.println("count " + e.all(l).count());
                        java.nio.file.Files.lines(java.nio.file.Path.of("/proc/self/maps"))
                                .filter(m -> m.contains("libengine-native")).forEach(System.out::println);
                    }
                }
                """);
        String java = System.getProperty("java.home") + "/bin/java";
        Process p = new ProcessBuilder(java, "-cp", System.getProperty("engine.test.jar"), source.toString())
                .redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(p.waitFor(2, TimeUnit.MINUTES));
        assertEquals(0, p.exitValue(), out);
        assertTrue(out.startsWith("count 1099511627776\n"), out);
        assertTrue(out.contains("(deleted)"), "the library is the jar's copy, loaded from a temporary file: " + out);
    }
}
