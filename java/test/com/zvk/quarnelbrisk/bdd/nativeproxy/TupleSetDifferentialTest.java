package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.release;
import static org.junit.jupiter.api.Assertions.assertEquals;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.BitSet;
import java.util.List;
import java.util.SplittableRandom;
import java.util.function.Consumer;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;

/**
 * Every set operation through the natives against a plain model: a set of tuples as the bit set of
 * their codes, the field values concatenated (field 0 highest), so that code order is the order in
 * which the engine lists tuples. Each seed picks a layout of one to three fields of one to three
 * bits, with or without gaps, and an engine configuration; each result must be the very handle of
 * the model's set built with doAddTuple, and is read back by counting and by listing within random
 * bounds and limits. A run of variables is cached by its first variable alone, so each seed fixes
 * one run length per first variable, as a Java application does with its fields.
 */
class TupleSetDifferentialTest {
    /** maxNodeCacheSize, maxOpCacheSize, garbageCollectRate, enableGC (1 or 0). */
    private static final int[][] ENGINES = {
        {1 << 22, 1 << 20, 1000, 1}, {1 << 8, 200, 1, 1}, {1 << 12, 600, 0, 1}, {1 << 22, 1 << 10, 5, 0},
    };

    private record Held(int handle, BitSet model) {}

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

    /** One layout, a pool of sets held as handle and model, and random operations on them. */
    private static final class Session {
        final SplittableRandom rnd;
        final int[] first;
        final int[] width;
        final int[] low; // the lowest code bit of each field
        final int bits;
        final int[] runLength; // the one numVars used with each first variable
        final List<Held> pool = new ArrayList<>();
        final List<Integer> owned = new ArrayList<>();
        final String where;

        Session(long seed) {
            rnd = new SplittableRandom(seed);
            int fields = 1 + rnd.nextInt(3);
            boolean gaps = rnd.nextBoolean();
            first = new int[fields];
            width = new int[fields];
            low = new int[fields];
            for (int f = 0, v = rnd.nextInt(3); f < fields; f++) {
                first[f] = v;
                width[f] = 1 + rnd.nextInt(3);
                v += width[f] + (gaps ? 1 + rnd.nextInt(2) : 0);
            }
            for (int f = fields - 2; f >= 0; f--) {
                low[f] = low[f + 1] + width[f + 1];
            }
            bits = low[0] + width[0];
            where = "seed " + seed + ", first " + Arrays.toString(first) + " width " + Arrays.toString(width);
            int end = first[fields - 1] + width[fields - 1];
            runLength = new int[end + 3];
            for (int v = 0; v < runLength.length; v++) {
                runLength[v] = 1 + rnd.nextInt(end + 3 - v);
            }
            for (int f = 0; f < fields; f++) {
                runLength[first[f]] = rnd.nextBoolean() ? width[f] : runLength[first[f]]; // now and then a whole field
            }
            pool.add(new Held(BDDManagerNativeProxy.doGetZero(), new BitSet()));
            pool.add(new Held(BDDManagerNativeProxy.doGetOne(), apply(new BitSet(), r -> r.set(0, 1 << bits))));
        }

        int[] tuple(int c) {
            int[] t = new int[width.length];
            Arrays.setAll(t, f -> (c >>> low[f]) & ((1 << width[f]) - 1));
            return t;
        }

        /** The code bits that hold the variables firstVar .. firstVar + numVars - 1. */
        int mask(long firstVar, long numVars) {
            int m = 0;
            for (int f = 0; f < width.length; f++) {
                for (int i = 0; i < width[f]; i++) {
                    boolean in = first[f] + i >= firstVar && first[f] + i < firstVar + numVars;
                    m |= in ? 1 << (low[f] + width[f] - 1 - i) : 0;
                }
            }
            return m;
        }

        /** The set with a tuple added: the bits of a value above its field's width are ignored. */
        BitSet with(BitSet s, int[] t) {
            int code = IntStream.range(0, t.length).map(f -> (t[f] & ((1 << width[f]) - 1)) << low[f]).reduce(0, (x, y) -> x | y);
            return apply(s, r -> r.set(code));
        }

        void compareListing(String what, int handle, BitSet s, int[] bound, int limit) {
            List<String> expected = s.stream().mapToObj(this::tuple).filter(t -> IntStream.range(0, t.length)
                    .allMatch(f -> t[f] < bound[f])).limit(limit > 0 ? limit : Long.MAX_VALUE).map(Arrays::toString).toList();
            List<String> listed = ((List<?>) BDDNativeProxy.doGetNTuples(handle, first, width, bound, limit)).stream()
                    .map(t -> Arrays.toString((int[]) t)).toList();
            assertEquals(expected, listed, () -> what + ": listing within " + Arrays.toString(bound) + " up to " + limit);
        }

        /** Checks a result against its model by handle, count and listing, and puts it in the pool. */
        void check(String what, int actual, BitSet expected) {
            String at = where + ": " + what + ", expected " + expected.cardinality() + " tuples";
            owned.add(actual);
            // The engine's diagram of the model's set, built with doAddTuple from zero.
            int built = EngineSupport.set(first, width, expected.stream().mapToObj(this::tuple).toArray(int[][]::new));
            owned.add(built);
            assertEquals(built, actual, at);
            int[] bound = new int[width.length];
            assertEquals(expected.cardinality(), BDDNativeProxy.doGetNumOfTuples(actual, first, width, bound), at);
            // A limit of 0 stops the walk at the first subtree that lists nothing; with open bounds there is none.
            Arrays.fill(bound, Integer.MAX_VALUE);
            compareListing(at, actual, expected, bound, rnd.nextInt(3) - 1);
            Arrays.setAll(bound, f -> rnd.nextInt(4) == 0 ? Integer.MAX_VALUE : rnd.nextInt((1 << width[f]) + 2) - 1);
            compareListing(at, actual, expected, bound, rnd.nextBoolean() ? -1 : 1 + rnd.nextInt(4));
            Held h = new Held(actual, expected);
            if (pool.size() < 14) {
                pool.add(h);
            } else {
                pool.set(rnd.nextInt(pool.size()), h);
            }
        }

        void step() {
            Held x = pool.get(rnd.nextInt(pool.size()));
            Held y = pool.get(rnd.nextInt(pool.size()));
            int v = rnd.nextInt(runLength.length);
            int n = runLength[v];
            // Now and then a value wider than its field: the bits above the width are ignored.
            int[] t = new int[width.length];
            Arrays.setAll(t, f -> rnd.nextInt(1 << (width[f] + (rnd.nextInt(8) == 0 ? 2 : 0))));
            String run = " " + v + "+" + n;
            switch (rnd.nextInt(9)) {
                case 0 -> check("complement", BDDNativeProxy.doComplement(x.handle),
                        apply(x.model, r -> r.flip(0, 1 << bits)));
                case 1 -> check("unite", BDDNativeProxy.doUnite(x.handle, y.handle), apply(x.model, r -> r.or(y.model)));
                case 2 -> check("intersect", BDDNativeProxy.doIntersect(x.handle, y.handle),
                        apply(x.model, r -> r.and(y.model)));
                case 3 -> assertEquals(apply(y.model, r -> r.andNot(x.model)).isEmpty(),
                        BDDNativeProxy.doSuperset(x.handle, y.handle), where + ": superset");
                case 4 -> check("existsVar " + v, BDDNativeProxy.doExistsVar(x.handle, v), free(x.model, mask(v, 1)));
                case 5 -> check("exists" + run, BDDNativeProxy.doExists(x.handle, v, n), free(x.model, mask(v, n)));
                case 6 -> check("relprod" + run, BDDNativeProxy.doRelprod(x.handle, y.handle, v, n),
                        free(apply(x.model, r -> r.and(y.model)), mask(v, n)));
                case 7 -> {
                    check("addTuple " + Arrays.toString(t), BDDNativeProxy.doAddTuple(x.handle, first, width, t),
                            with(x.model, t));
                    check("makeSingleTuple " + Arrays.toString(t), BDDManagerNativeProxy.doMakeSingleTuple(first, width, t),
                            with(new BitSet(), t));
                }
                default -> rename(x);
            }
        }

        /**
         * Moves a whole field onto another of the same width, after quantifying away, one variable
         * at a time, the target field and all between the two (a rename must not cross a variable
         * the set still tests); or renames by 0, which changes nothing.
         */
        void rename(Held x) {
            int from = rnd.nextInt(width.length);
            int to = rnd.nextInt(width.length);
            int w = width[from];
            if (from == to || width[to] != w) {
                check("rename by 0", BDDNativeProxy.doRename(x.handle, first[from], w, 0), x.model);
                return;
            }
            int cleared = x.handle;
            BitSet model = x.model;
            for (int v = Math.min(first[from], first[to]); v < Math.max(first[from], first[to]) + w; v++) {
                if (v < first[from] || v >= first[from] + w) {
                    owned.add(cleared = BDDNativeProxy.doExistsVar(cleared, v));
                    model = free(model, mask(v, 1));
                }
            }
            int field = (1 << w) - 1;
            BitSet moved = new BitSet();
            model.stream().forEach(c -> moved.set(c & ~(field << low[to]) | ((c >>> low[from]) & field) << low[to]));
            check("rename field " + from + " onto " + to, BDDNativeProxy.doRename(cleared, first[from], w,
                    first[to] - first[from]), free(moved, field << low[from]));
        }
    }

    @Test
    void everyOperationAgreesWithTheModel() {
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
}
