package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.release;
import static org.junit.jupiter.api.Assertions.assertEquals;

import com.zvk.quarnelbrisk.bdd.typed.Engine;
import com.zvk.quarnelbrisk.bdd.typed.Field;
import com.zvk.quarnelbrisk.bdd.typed.Layout;
import com.zvk.quarnelbrisk.bdd.typed.TupleSet;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.BitSet;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.SplittableRandom;
import java.util.function.Consumer;
import java.util.function.IntPredicate;
import java.util.function.Predicate;
import java.util.stream.IntStream;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;

/**
 * Every set operation against a plain model: a set of tuples as the bit set of their codes, a code
 * holding the fields' bits in the order of their variables, the lowest variable's bit highest, so
 * that code order is the order in which the engine lists tuples. Each result must be the very
 * handle of the model's set built by adding its tuples to the empty set, and is read back by
 * counting and by listing within random bounds and limits. Two drivers share the model:
 * <ul>
 *   <li>the raw natives, over one to three fields of one to three bits on runs, with or without
 *       gaps, under four engine configurations. A run of variables is cached by its first variable
 *       alone, so each seed fixes one run length per first variable, as a program does whose runs
 *       are its fields;</li>
 *   <li>the typed layer, and through it the natives over any variables: two or three interleaved
 *       domains (of 2 to 8 values, most not powers of two) and a field or domain on a run, in
 *       layouts of every order; renamings by random one-to-one maps (swaps and cycles), projections
 *       and joins over any fields, and the builders. Complements and everything else stay inside
 *       the domains.</li>
 * </ul>
 */
class TupleSetDifferentialTest {
    /** maxNodeCacheSize, maxOpCacheSize, garbageCollectRate, enableGC (1 or 0). */
    private static final int[][] ENGINES = {
        {1 << 22, 1 << 20, 1000, 1}, {1 << 8, 200, 1, 1}, {1 << 12, 600, 0, 1}, {1 << 22, 1 << 10, 5, 0},
    };

    private record Held<T>(T set, BitSet model) {}

    private static BitSet apply(BitSet s, Consumer<BitSet> change) {
        BitSet r = (BitSet) s.clone();
        change.accept(r);
        return r;
    }

    /** Every code that agrees with a member outside the bits of {@code mask}. */
    private static BitSet free(BitSet s, int mask) {
        BitSet r = (BitSet) s.clone();
        for (int bit = 1; bit != 0; bit <<= 1) {
            for (int c : (mask & bit) != 0 ? r.stream().toArray() : new int[0]) {
                r.set(c ^ bit);
            }
        }
        return r;
    }

    /** Codes of the tuples over fields given by their variables (most significant bit first) and sizes. */
    private static final class Model {
        final int[][] vars;
        final int[][] at; // the code bit of each field bit, most significant first
        final BitSet universe = new BitSet(); // every code whose values lie in their domains

        Model(int[][] vars, int[] sizes) {
            this.vars = vars;
            int[] sorted = Arrays.stream(vars).flatMapToInt(Arrays::stream).sorted().toArray();
            at = Arrays.stream(vars).map(f -> Arrays.stream(f).map(v -> sorted.length - 1 - Arrays.binarySearch(sorted, v))
                    .toArray()).toArray(int[][]::new);
            IntStream.range(0, 1 << sorted.length).filter(c -> IntStream.range(0, sizes.length)
                    .allMatch(f -> tuple(c)[f] < sizes[f])).forEach(universe::set);
        }

        int code(int[] values) {
            return IntStream.range(0, at.length).flatMap(f -> IntStream.range(0, at[f].length)
                    .map(i -> (values[f] >>> (at[f].length - 1 - i) & 1) << at[f][i])).sum();
        }

        int[] tuple(int code) {
            int[] t = new int[at.length];
            for (int f = 0; f < at.length; f++) {
                for (int bit : at[f]) {
                    t[f] = t[f] << 1 | (code >>> bit & 1);
                }
            }
            return t;
        }

        /** The code bits of the variables that pass the test. */
        int mask(IntPredicate var) {
            return IntStream.range(0, at.length).flatMap(f -> IntStream.range(0, at[f].length)
                    .filter(i -> var.test(vars[f][i])).map(i -> 1 << at[f][i])).sum();
        }

        /** The set whose tuples are those of {@code s}, each changed in place. */
        BitSet map(BitSet s, Consumer<int[]> change) {
            BitSet r = new BitSet();
            s.stream().forEach(c -> {
                int[] t = tuple(c);
                change.accept(t);
                r.set(code(t));
            });
            return r;
        }

        BitSet where(Predicate<int[]> test) {
            return apply(universe, r -> r.stream().filter(c -> !test.test(tuple(c))).forEach(r::clear));
        }
    }

    /** The expected listing: at most {@code limit} (negative: all) of the tuples within the bounds. */
    private static List<String> listing(Stream<int[]> tuples, int[] bound, int limit) {
        return tuples.filter(t -> bound == null || IntStream.range(0, t.length).allMatch(i -> t[i] < bound[i]))
                .limit(limit >= 0 ? limit : Long.MAX_VALUE).map(Arrays::toString).toList();
    }

    /** One layout of fields on runs, a pool of raw handles with their models, and random operations on them. */
    private static final class Session {
        final SplittableRandom rnd;
        final int[] first;
        final int[] width;
        final Model m;
        final int[] runLength; // the one numVars used with each first variable
        final List<Held<Integer>> pool = new ArrayList<>();
        final List<Integer> owned = new ArrayList<>();
        final String where;

        Session(long seed) {
            rnd = new SplittableRandom(seed);
            int fields = 1 + rnd.nextInt(3);
            boolean gaps = rnd.nextBoolean();
            first = new int[fields];
            width = new int[fields];
            for (int f = 0, v = rnd.nextInt(3); f < fields; f++) {
                first[f] = v;
                width[f] = 1 + rnd.nextInt(3);
                v += width[f] + (gaps ? 1 + rnd.nextInt(2) : 0);
            }
            m = new Model(IntStream.range(0, fields).mapToObj(f -> IntStream.range(first[f], first[f] + width[f]).toArray())
                    .toArray(int[][]::new), Arrays.stream(width).map(w -> 1 << w).toArray());
            where = "seed " + seed + ", first " + Arrays.toString(first) + " width " + Arrays.toString(width);
            int end = first[fields - 1] + width[fields - 1];
            runLength = new int[end + 3];
            for (int v = 0; v < runLength.length; v++) {
                runLength[v] = 1 + rnd.nextInt(end + 3 - v);
            }
            for (int f = 0; f < fields; f++) {
                runLength[first[f]] = rnd.nextBoolean() ? width[f] : runLength[first[f]]; // now and then a whole field
            }
            pool.add(new Held<>(BDDManagerNativeProxy.doGetZero(), new BitSet()));
            pool.add(new Held<>(BDDManagerNativeProxy.doGetOne(), m.universe));
        }

        /** The code bits of the variables firstVar .. firstVar + numVars - 1. */
        int mask(long firstVar, long numVars) {
            return m.mask(v -> v >= firstVar && v < firstVar + numVars);
        }

        void compareListing(String what, int handle, BitSet s, int[] bound, int limit) {
            List<String> listed = ((List<?>) BDDNativeProxy.doGetNTuples(handle, first, width, bound, limit)).stream()
                    .map(t -> Arrays.toString((int[]) t)).toList();
            assertEquals(listing(s.stream().mapToObj(m::tuple), bound, limit > 0 ? limit : -1), listed,
                    () -> what + ": listing within " + Arrays.toString(bound) + " up to " + limit);
        }

        /** Checks a result against its model by handle, count and listing, and puts it in the pool. */
        void check(String what, int actual, BitSet expected) {
            String at = where + ": " + what + ", expected " + expected.cardinality() + " tuples";
            owned.add(actual);
            // The engine's diagram of the model's set, built with doAddTuple from zero.
            int built = EngineSupport.set(first, width, expected.stream().mapToObj(m::tuple).toArray(int[][]::new));
            owned.add(built);
            assertEquals(built, actual, at);
            int[] bound = new int[width.length];
            assertEquals(expected.cardinality(), BDDNativeProxy.doGetNumOfTuples(actual, first, width, bound), at);
            // A limit of 0 stops the walk at the first subtree that lists nothing; with open bounds there is none.
            Arrays.fill(bound, Integer.MAX_VALUE);
            compareListing(at, actual, expected, bound, rnd.nextInt(3) - 1);
            Arrays.setAll(bound, f -> rnd.nextInt(4) == 0 ? Integer.MAX_VALUE : rnd.nextInt((1 << width[f]) + 2) - 1);
            compareListing(at, actual, expected, bound, rnd.nextBoolean() ? -1 : 1 + rnd.nextInt(4));
            if (pool.size() >= 14) {
                pool.remove(rnd.nextInt(pool.size()));
            }
            pool.add(new Held<>(actual, expected));
        }

        void step() {
            Held<Integer> x = pool.get(rnd.nextInt(pool.size()));
            Held<Integer> y = pool.get(rnd.nextInt(pool.size()));
            int v = rnd.nextInt(runLength.length);
            int n = runLength[v];
            // Now and then a value wider than its field: the bits above the width are ignored.
            int[] t = new int[width.length];
            Arrays.setAll(t, f -> rnd.nextInt(1 << (width[f] + (rnd.nextInt(8) == 0 ? 2 : 0))));
            int code = m.code(IntStream.range(0, t.length).map(f -> t[f] & ((1 << width[f]) - 1)).toArray());
            String run = " " + v + "+" + n;
            switch (rnd.nextInt(9)) {
                case 0 -> check("complement", BDDNativeProxy.doComplement(x.set), apply(m.universe, r -> r.andNot(x.model)));
                case 1 -> check("unite", BDDNativeProxy.doUnite(x.set, y.set), apply(x.model, r -> r.or(y.model)));
                case 2 -> check("intersect", BDDNativeProxy.doIntersect(x.set, y.set), apply(x.model, r -> r.and(y.model)));
                case 3 -> assertEquals(apply(y.model, r -> r.andNot(x.model)).isEmpty(),
                        BDDNativeProxy.doSuperset(x.set, y.set), where + ": superset");
                case 4 -> check("existsVar " + v, BDDNativeProxy.doExistsVar(x.set, v), free(x.model, mask(v, 1)));
                case 5 -> check("exists" + run, BDDNativeProxy.doExists(x.set, v, n), free(x.model, mask(v, n)));
                case 6 -> check("relprod" + run, BDDNativeProxy.doRelprod(x.set, y.set, v, n),
                        free(apply(x.model, r -> r.and(y.model)), mask(v, n)));
                case 7 -> {
                    check("addTuple " + Arrays.toString(t), BDDNativeProxy.doAddTuple(x.set, first, width, t),
                            apply(x.model, r -> r.set(code)));
                    check("makeSingleTuple " + Arrays.toString(t), BDDManagerNativeProxy.doMakeSingleTuple(first, width, t),
                            apply(new BitSet(), r -> r.set(code)));
                }
                default -> rename(x);
            }
        }

        /**
         * Moves a whole field onto another of the same width, after quantifying away, one variable
         * at a time, the target field and all between the two (a rename must not cross a variable
         * the set still tests); or renames by 0, which changes nothing.
         */
        void rename(Held<Integer> x) {
            int from = rnd.nextInt(width.length);
            int to = rnd.nextInt(width.length);
            int w = width[from];
            if (from == to || width[to] != w) {
                check("rename by 0", BDDNativeProxy.doRename(x.set, first[from], w, 0), x.model);
                return;
            }
            int cleared = x.set;
            BitSet model = x.model;
            for (int v = Math.min(first[from], first[to]); v < Math.max(first[from], first[to]) + w; v++) {
                if (v < first[from] || v >= first[from] + w) {
                    owned.add(cleared = BDDNativeProxy.doExistsVar(cleared, v));
                    model = free(model, mask(v, 1));
                }
            }
            check("rename field " + from + " onto " + to, BDDNativeProxy.doRename(cleared, first[from], w,
                    first[to] - first[from]), free(m.map(model, t -> t[to] = t[from]), mask(first[from], w)));
        }
    }

    @Test
    void everyRawOperationAgreesWithTheModel() {
        for (int seed = 0; seed < 240; seed++) {
            int[] e = ENGINES[seed % ENGINES.length];
            BDDManagerNativeProxy.doInit(e[0], e[1], e[2], e[3] != 0);
            Session s = new Session(0x5EED + seed);
            for (int k = 0; k < 65; k++) {
                s.step();
            }
            release(s.owned.stream().mapToInt(Integer::intValue).toArray());
            if (e[3] != 0) {
                assertEquals(0, aliveWhenDrained(), s.where + ": nodes left behind");
            }
        }
    }

    /** Fields interleaved, on a run and as domains, a pool of sets over all of them in random layouts. */
    private static final class Typed {
        final SplittableRandom rnd;
        final Engine engine;
        final List<Field> fields = new ArrayList<>();
        final List<Field> group; // the interleaved ones, of one size
        final Model m;
        final List<Held<TupleSet>> pool = new ArrayList<>();
        final String where;

        Typed(long seed) {
            rnd = new SplittableRandom(seed);
            engine = Engine.start(Engine.Settings.DEFAULTS.withGarbageCollectRate(seed % 2 == 0 ? 1 : 10_000));
            // A field or domain on a run, declared before or after the interleaved domains.
            Field single = seed % 3 == 0 ? engine.field("r", 1 + rnd.nextInt(2)) : engine.domain("d", 3 + rnd.nextInt(3));
            group = engine.interleavedDomains(2 + rnd.nextInt(7), Arrays.copyOf(new String[] {"a", "b", "c"}, 2 + rnd.nextInt(2)));
            fields.addAll(group);
            fields.add(seed % 3 == 1 ? engine.domain("e", 2 + rnd.nextInt(6)) : single);
            Collections.shuffle(fields, new java.util.Random(seed));
            m = new Model(fields.stream().map(Field::vars).toArray(int[][]::new), fields.stream().mapToInt(Field::size).toArray());
            where = "seed " + seed + ", " + engine.layout(fields.toArray(new Field[0]));
            pool.add(new Held<>(engine.empty(layout(fields, false)), new BitSet()));
            pool.add(new Held<>(engine.all(layout(fields, false)), m.universe));
        }

        /** The fields in a random order, or (when {@code some}) now and then only the first few of that order. */
        Layout layout(List<Field> of, boolean some) {
            List<Field> l = new ArrayList<>(of);
            Collections.shuffle(l, new java.util.Random(rnd.nextLong()));
            return engine.layout(l.subList(0, some && rnd.nextInt(4) == 0 ? rnd.nextInt(l.size() + 1) : l.size())
                    .toArray(new Field[0]));
        }

        List<Field> rest(Layout l) {
            return fields.stream().filter(f -> !l.contains(f)).toList();
        }

        int mask(List<Field> of) {
            return m.mask(v -> of.stream().anyMatch(f -> Arrays.stream(f.vars()).anyMatch(w -> w == v)));
        }

        /** A tuple of the model's code in a layout's order. */
        int[] inLayout(Layout l, int code) {
            int[] t = m.tuple(code);
            return l.fields().stream().mapToInt(f -> t[fields.indexOf(f)]).toArray();
        }

        /** Checks a result over all fields (extended by every value of those it lacks) and pools it. */
        void check(String what, TupleSet result, BitSet expected) {
            String at = where + ": " + what + " over " + result.layout();
            try (TupleSet rest = engine.all(engine.layout(rest(result.layout()).toArray(new Field[0])))) {
                TupleSet actual = result.join(rest);
                result.close();
                Layout l = actual.layout();
                try (TupleSet built = engine.of(l, expected.stream().mapToObj(c -> inLayout(l, c)).toList())) {
                    assertEquals(built, actual, at);
                }
                assertEquals(expected.cardinality(), actual.countLong(), at);
                int[] bound = rnd.nextBoolean() ? null : l.fields().stream().mapToInt(f -> rnd.nextInt(f.size() + 2)).toArray();
                int limit = rnd.nextBoolean() ? -1 : rnd.nextInt(5);
                assertEquals(listing(expected.stream().mapToObj(c -> inLayout(l, c)), bound, limit),
                        actual.tuples(limit, bound).stream().map(t -> Arrays.toString(t.values())).toList(), at);
                // Lazily from any tuple of the domains on: the codes from its code on.
                int from = m.universe.stream().skip(rnd.nextInt(m.universe.cardinality())).findFirst().orElseThrow();
                assertEquals(listing(expected.stream().filter(c -> c >= from).mapToObj(c -> inLayout(l, c)), null, 3),
                        actual.streamFrom(inLayout(l, from)).limit(3).map(t -> Arrays.toString(t.values())).toList(), at);
                assertEquals(expected.stream().mapToObj(c -> Arrays.toString(inLayout(l, c))).findFirst(),
                        actual.anyTuple().map(t -> Arrays.toString(t.values())), at);
                if (pool.size() >= 10) {
                    pool.remove(rnd.nextInt(pool.size())).set().close();
                }
                pool.add(new Held<>(actual, expected));
            }
        }

        void step() {
            Held<TupleSet> x = pool.get(rnd.nextInt(pool.size()));
            Held<TupleSet> y = pool.get(rnd.nextInt(pool.size()));
            TupleSet xs = x.set();
            BitSet xm = x.model();
            switch (rnd.nextInt(9)) {
                case 0 -> check("complement", xs.complement(), apply(m.universe, r -> r.andNot(xm)));
                case 1 -> check("union", xs.union(y.set()), apply(xm, r -> r.or(y.model())));
                case 2 -> check("intersect", xs.intersect(y.set()), apply(xm, r -> r.and(y.model())));
                case 3 -> check("minus", xs.minus(y.set()), apply(xm, r -> r.andNot(y.model())));
                case 4 -> {
                    int[] codes = rnd.ints(1 + rnd.nextInt(3), 0, m.universe.cardinality())
                            .map(i -> m.universe.stream().skip(i).findFirst().orElseThrow()).toArray();
                    assertEquals(xm.get(codes[0]), xs.contains(inLayout(xs.layout(), codes[0])), where + ": contains");
                    assertEquals(apply(y.model(), r -> r.andNot(xm)).isEmpty(), xs.contains(y.set()), where + ": contains");
                    check("withAll", xs.withAll(Arrays.stream(codes).mapToObj(c -> inLayout(xs.layout(), c)).toList()),
                            apply(xm, r -> Arrays.stream(codes).forEach(r::set)));
                }
                case 5, 6 -> {
                    // Each side projected to some fields first, the join then on some of those they share.
                    Layout left = layout(fields, true);
                    Layout right = layout(fields, true);
                    List<Field> on = layout(left.fields().stream().filter(right::contains).toList(), true).fields();
                    try (TupleSet l = xs.project(left.fields().toArray(new Field[0]));
                            TupleSet r = y.set().project(right.fields().toArray(new Field[0]))) {
                        BitSet both = apply(free(xm, mask(rest(left))), s -> s.and(free(y.model(), mask(rest(right)))));
                        check("join of " + left + " and " + right + " on " + on, l.join(r, on.toArray(new Field[0])),
                                apply(free(both, mask(on)), s -> s.and(m.universe)));
                    }
                }
                case 7 -> {
                    // A random permutation of the interleaved fields, identities now and then left out.
                    List<Field> to = layout(group, false).fields();
                    Map<Field, Field> renaming = new HashMap<>();
                    IntStream.range(0, to.size()).filter(i -> group.get(i) != to.get(i) || rnd.nextBoolean())
                            .forEach(i -> renaming.put(group.get(i), to.get(i)));
                    check("rename " + renaming, xs.rename(renaming), m.map(xm, t -> {
                        int[] old = t.clone();
                        renaming.forEach((f, g) -> t[fields.indexOf(g)] = old[fields.indexOf(f)]);
                    }));
                }
                default -> {
                    Field a = group.get(rnd.nextInt(group.size()));
                    Field b = group.get(rnd.nextInt(group.size()));
                    int ia = fields.indexOf(a);
                    int ib = fields.indexOf(b);
                    long k = rnd.nextInt(7) - 3;
                    int lo = rnd.nextInt(a.size() + 2) - 1;
                    int hi = rnd.nextInt(a.size() + 2) - 1;
                    if (a == b) {
                        check("range " + lo + ".." + hi, engine.range(a, lo, hi), m.where(t -> t[ia] >= lo && t[ia] <= hi));
                    } else if (rnd.nextBoolean()) {
                        check("equal", engine.equal(a, b), m.where(t -> t[ia] == t[ib]));
                    } else {
                        check("plus " + k, engine.plus(a, b, k), m.where(t -> t[ib] == t[ia] + k));
                    }
                }
            }
        }
    }

    @Test
    void everyOperationOfTheTypedLayerAgreesWithTheModel() {
        for (int seed = 0; seed < 80; seed++) {
            Typed s = new Typed(0x7E5 + seed);
            for (int k = 0; k < 40; k++) {
                s.step();
            }
            s.pool.forEach(h -> h.set().close());
            s.engine.releaseCaches();
            assertEquals(0, aliveWhenDrained(), s.where + ": nodes left behind");
        }
    }
}
