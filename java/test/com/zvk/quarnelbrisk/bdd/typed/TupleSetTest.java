package com.zvk.quarnelbrisk.bdd.typed;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.HashSet;
import java.util.List;
import java.util.Random;
import java.util.Set;
import java.util.TreeSet;
import java.util.concurrent.CancellationException;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class TupleSetTest {
    /** Tuples of three 12-bit keys as codes, the first key highest, so that code order is the engine's order. */
    private static TreeSet<Long> keys(Random r, int n, Collection<Long> start) {
        TreeSet<Long> out = new TreeSet<>(start);
        while (out.size() < n) {
            out.add(r.nextLong() & ((1L << 36) - 1));
        }
        return out;
    }

    private static int[] tuple(long code) {
        return new int[] {(int) (code >>> 24), (int) (code >>> 12) & 4095, (int) code & 4095};
    }

    private static TupleSet build(Engine e, Layout keyLayout, Set<Long> codes, Layout free) {
        try (TupleSet k = e.of(keyLayout, codes.stream().map(TupleSetTest::tuple).toList()); TupleSet all = e.all(free)) {
            return k.join(all);
        }
    }

    @Test
    void countsAboveTwoTo32And64AgreeWithBigIntegerArithmeticOverAModel() {
        Engine e = Engine.start();
        Layout keyLayout = e.layout(e.field("k1", 12), e.field("k2", 12), e.field("k3", 12));
        Layout free = e.layout(e.field("f1", 30), e.field("f2", 30), e.field("f3", 30), e.field("f4", 30));
        Random r = new Random(7);
        TreeSet<Long> modelA = keys(r, 3000, Set.of());
        TreeSet<Long> modelB = keys(r, 3000, modelA.stream().limit(1000).toList());
        long both = modelA.stream().filter(modelB::contains).count();
        BigInteger freeCount = BigInteger.ONE.shiftLeft(120);
        try (TupleSet a = build(e, keyLayout, modelA, free); TupleSet b = build(e, keyLayout, modelB, free);
                TupleSet union = a.union(b); TupleSet meet = a.intersect(b); TupleSet rest = a.minus(b);
                TupleSet outside = a.complement()) {
            assertEquals(freeCount.multiply(BigInteger.valueOf(modelA.size())), a.count());
            assertEquals(freeCount.multiply(BigInteger.valueOf(modelA.size() + modelB.size() - both)), union.count());
            assertEquals(freeCount.multiply(BigInteger.valueOf(both)), meet.count());
            assertEquals(a.count().subtract(meet.count()), rest.count());
            assertEquals(BigInteger.ONE.shiftLeft(156).subtract(a.count()), outside.count());
            assertTrue(union.contains(a) && a.contains(meet) && !meet.contains(rest) && meet.union(rest).sameTuplesAs(a));

            // Above 2^32, below 2^64: the keys' first field against one free field.
            try (TupleSet some = a.project(keyLayout.fields().get(0), free.fields().get(0))) {
                assertEquals(modelA.stream().map(c -> c >>> 24).distinct().count() << 30, some.countLong());
            }
            // Exactly 2^64, where a count leaves 64 bits: one value of k3, then 64 free bits.
            Layout wide = e.layout(free.fields().get(0), free.fields().get(1), e.field("g", 4));
            try (TupleSet k3 = e.tuple(e.layout(keyLayout.fields().get(2)), 1); TupleSet all = e.all(wide);
                    TupleSet twoTo64 = k3.join(all)) {
                assertEquals(BigInteger.ONE.shiftLeft(64), twoTo64.count());
            }
            // Listing: the smallest three within bounds, in the engine's order.
            try (TupleSet justKeys = a.project(keyLayout.fields().toArray(new Field[0]))) {
                List<String> expected = modelA.stream().map(TupleSetTest::tuple).filter(t -> t[1] < 2048).limit(3)
                        .map(Arrays::toString).toList();
                assertEquals(expected, justKeys.tuples(3, new int[] {4096, 2048, 4096}).stream()
                        .map(t -> Arrays.toString(t.values())).toList());
                assertEquals(List.of(), justKeys.tuples(0, null));
            }
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
        e.releaseCaches();
        int alive = -1;
        for (long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(60); alive != 0 && System.nanoTime() < deadline;) {
            System.gc();
            Thread.sleep(20);
            alive = EngineSupport.aliveWhenDrained();
        }
        assertEquals(0, alive, "every dropped set was released once, and no set in use was");
    }

    @Test
    void groupsOfSetsRoundTripThroughTheStreamAndCancelCleanly() throws Exception {
        Engine e = Engine.start();
        Layout l = e.layout(e.field("p", 8), e.field("q", 8));
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        try (TupleSet s = e.of(l, List.of(new int[] {1, 2}, new int[] {3, 4})); TupleSet t = s.with(5, 6)) {
            List<String> reports = new ArrayList<>();
            e.save(bytes, List.of(s, t), (done, total) -> reports.add(done + "/" + total));
            assertEquals(List.of("0/4", "1/4", "2/4", "3/4"), reports);
            assertThrows(CancellationException.class, () -> e.save(new ByteArrayOutputStream(), List.of(s), (d, n) -> false));
            List<TupleSet> back = e.load(new ByteArrayInputStream(bytes.toByteArray()), List.of(l, l), null);
            assertTrue(back.get(0).sameTuplesAs(s) && back.get(1).sameTuplesAs(t));
            back.forEach(TupleSet::close);
        }
        assertEquals(0, EngineSupport.aliveWhenDrained());
        // Cancelled, or of other layouts: refused, and nothing stays behind.
        assertThrows(CancellationException.class,
                () -> e.load(new ByteArrayInputStream(bytes.toByteArray()), List.of(l, l), (d, n) -> false));
        Layout other = e.layout(e.field("r", 8), e.field("s", 8));
        assertThrows(IOException.class, () -> e.load(new ByteArrayInputStream(bytes.toByteArray()), List.of(l, other), null));
        assertEquals(0, EngineSupport.aliveWhenDrained());
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
