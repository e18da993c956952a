package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.freshEngine;
import static org.junit.jupiter.api.Assertions.assertEquals;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.SplittableRandom;
import java.util.TreeMap;
import java.util.Vector;
import java.util.function.Supplier;
import org.junit.jupiter.api.Test;

/**
 * Every set operation through the natives against the plain model of {@link TupleSetModel}, on
 * random small tuple sets: one to three fields of one to three bits, with and without gaps, under
 * several engine configurations (small caches and tables, collection at every other creation,
 * collection off). Each result is checked twice: through canonical handles (the model's expected
 * set, built with doAddTuple, must be the very handle the operation returned), and read back tuple
 * by tuple (counted, and listed whole, within random bounds and up to random limits).
 *
 * <p>A run of variables is identified in the engine's cache by its first variable alone, so each
 * seed fixes one length per first variable, as the Java application does with its fields.
 */
class TupleSetDifferentialTest {
    private static final long BASE_SEED = 0x5EEDL;
    private static final int SEEDS = 240;
    private static final int OPERATIONS_PER_SEED = 60;

    /** maxNodeCacheSize, maxOpCacheSize, garbageCollectRate, enableGC (1 or 0). */
    private static final int[][] ENGINES = {
        {1 << 22, 1 << 20, 1000, 1}, {1 << 8, 200, 1, 1}, {1 << 12, 600, 0, 1}, {1 << 22, 1 << 10, 5, 0},
    };

    private final Map<String, Integer> cases = new TreeMap<>();
    private final Map<String, Integer> layouts = new TreeMap<>();
    private int listings;
    private int tuplesCompared;

    /** What listing gives for a model: the members within the bounds, ascending, up to the limit. */
    static List<int[]> expectedListing(TupleSetModel model, int[] bound, int maxTuples) {
        List<int[]> in = new ArrayList<>();
        for (int[] t : model.tuples()) {
            boolean inside = true;
            for (int f = 0; f < t.length; f++) {
                inside &= t[f] < bound[f];
            }
            if (inside) {
                in.add(t);
            }
        }
        if (maxTuples > 0 && in.size() > maxTuples) {
            return in.subList(0, maxTuples);
        }
        if (maxTuples == 0 && !firstPathReachesTuple(model, bound)) {
            return List.of();
        }
        return in;
    }

    /**
     * The walk's first path: at each field bit, from the first field's most significant bit on,
     * the value 0 if some member goes on that way within the bound, else 1 likewise. With a limit of
     * 0 the walk lists everything within the bounds when this path reaches a tuple, else nothing.
     */
    static boolean firstPathReachesTuple(TupleSetModel model, int[] bound) {
        int[] width = model.layout().width();
        List<int[]> alive = model.tuples();
        int[] prefix = new int[width.length];
        for (int f = 0; f < width.length; f++) {
            for (int b = width[f] - 1; b >= 0; b--) {
                boolean moved = false;
                for (int bit = 0; bit < 2 && !moved; bit++) {
                    int c = prefix[f] * 2 + bit;
                    List<int[]> next = new ArrayList<>();
                    for (int[] t : alive) {
                        if (((t[f] >> b) & 1) == bit) {
                            next.add(t);
                        }
                    }
                    if (!next.isEmpty() && c < bound[f]) {
                        alive = next;
                        prefix[f] = c;
                        moved = true;
                    }
                }
                if (!moved) {
                    return false;
                }
            }
        }
        return !alive.isEmpty();
    }

    private static String show(List<int[]> tuples) {
        StringBuilder s = new StringBuilder();
        for (int[] t : tuples) {
            s.append(Arrays.toString(t));
        }
        return s.toString();
    }

    /** One set held twice: the engine's handle (one reference we own) and its model. */
    private record Held(int handle, TupleSetModel model) {}

    private final class Session {
        final long seed;
        final SplittableRandom rnd;
        final TupleSetModel.Layout layout;
        final int zero = BDDManagerNativeProxy.doGetZero();
        final int one = BDDManagerNativeProxy.doGetOne();
        final int end; // one past the last field variable
        final int[] runLength; // the one numVars used with each first variable
        final List<Held> pool = new ArrayList<>();
        final List<Integer> owned = new ArrayList<>();

        Session(long seed) {
            this.seed = seed;
            rnd = new SplittableRandom(seed);
            int fields = 1 + rnd.nextInt(3);
            boolean gaps = rnd.nextBoolean();
            int[] first = new int[fields];
            int[] width = new int[fields];
            int v = rnd.nextInt(3);
            for (int f = 0; f < fields; f++) {
                first[f] = v;
                width[f] = 1 + rnd.nextInt(3);
                v += width[f] + (gaps ? 1 + rnd.nextInt(2) : 0);
            }
            layout = new TupleSetModel.Layout(first, width);
            layouts.merge(fields + (fields == 1 ? " field" : " fields") + (gaps ? " with gaps" : " without gaps"), 1,
                    Integer::sum);
            end = first[fields - 1] + width[fields - 1];
            runLength = new int[end + 3];
            for (int f = 0; f < runLength.length; f++) {
                runLength[f] = 1 + rnd.nextInt(end + 3 - f);
            }
            for (int f = 0; f < fields; f++) {
                if (rnd.nextBoolean()) {
                    runLength[first[f]] = width[f]; // a whole field, the usual run
                }
            }
        }

        String where() {
            return "seed " + seed + ", layout " + layout;
        }

        int own(int handle) {
            owned.add(handle);
            return handle;
        }

        /** Checks that the engine's handle is the canonical handle of the model's set. */
        void check(String op, TupleSetModel expected, int actual, Supplier<String> what) {
            cases.merge(op, 1, Integer::sum);
            int built = own(expected.build());
            assertEquals(built, actual, () -> where() + ": " + op + " " + what.get() + ", expected " + expected);
        }

        void checkTruth(String op, boolean expected, boolean actual, Supplier<String> what) {
            cases.merge(op, 1, Integer::sum);
            assertEquals(expected, actual, () -> where() + ": " + op + " " + what.get());
        }

        int[] randomTuple() {
            int[] t = new int[layout.fields()];
            for (int f = 0; f < t.length; f++) {
                // Now and then a value wider than its field: the bits above the width are ignored.
                t[f] = rnd.nextInt(1 << (layout.width[f] + (rnd.nextInt(8) == 0 ? 2 : 0)));
            }
            return t;
        }

        Held randomSet() {
            int wanted = rnd.nextInt(8) == 0 ? layout.domainSize() : rnd.nextInt(1 + layout.domainSize() / 3);
            int handle = zero;
            TupleSetModel model = TupleSetModel.empty(layout);
            for (int i = 0; i < wanted; i++) {
                int[] t = randomTuple();
                int next = BDDNativeProxy.doAddTuple(handle, layout.firstVar, layout.width, t);
                if (handle != zero) {
                    BDDNativeProxy.doDecRefCount(handle);
                }
                handle = next;
                model = model.add(t);
            }
            return new Held(own(handle), model);
        }

        int[] randomBound() {
            int[] bound = new int[layout.fields()];
            for (int f = 0; f < bound.length; f++) {
                bound[f] = rnd.nextInt(4) == 0 ? Integer.MAX_VALUE : rnd.nextInt((1 << layout.width[f]) + 2) - 1;
            }
            return bound;
        }

        void compareListing(int handle, TupleSetModel model, int[] bound, int maxTuples) {
            List<int[]> expected = expectedListing(model, bound, maxTuples);
            Vector<?> listed = (Vector<?>) BDDNativeProxy.doGetNTuples(handle, layout.firstVar, layout.width, bound,
                    maxTuples);
            List<int[]> actual = new ArrayList<>();
            for (Object t : listed) {
                actual.add((int[]) t);
            }
            listings++;
            tuplesCompared += actual.size();
            assertEquals(show(expected), show(actual), () -> where() + ": listing of " + model + " within "
                    + Arrays.toString(bound) + " up to " + maxTuples);
        }

        /** Counts and lists a result and compares it with the model's tuples. */
        void readBack(int handle, TupleSetModel model) {
            int[] none = new int[layout.fields()];
            assertEquals(model.size(), BDDNativeProxy.doGetNumOfTuples(handle, layout.firstVar, layout.width, none),
                    () -> where() + ": count of " + model);
            int[] all = new int[layout.fields()];
            Arrays.fill(all, Integer.MAX_VALUE);
            compareListing(handle, model, all, -1);
            compareListing(handle, model, randomBound(), -1);
            compareListing(handle, model, randomBound(), 0);
            compareListing(handle, model, randomBound(), 1 + rnd.nextInt(4));
        }

        Held pick() {
            return pool.get(rnd.nextInt(pool.size()));
        }

        void keep(int handle, TupleSetModel model) {
            readBack(handle, model);
            if (pool.size() < 14) {
                pool.add(new Held(handle, model));
            } else {
                pool.set(rnd.nextInt(pool.size()), new Held(handle, model));
            }
        }

        void run() {
            pool.add(new Held(zero, TupleSetModel.empty(layout)));
            pool.add(new Held(one, TupleSetModel.full(layout)));
            for (int i = 0; i < 5; i++) {
                Held h = randomSet();
                readBack(h.handle, h.model);
                pool.add(h);
            }
            for (int i = 0; i < OPERATIONS_PER_SEED; i++) {
                step();
            }
            for (int h : owned) {
                BDDNativeProxy.doDecRefCount(h);
            }
        }

        void step() {
            Held x = pick();
            Held y = pick();
            switch (rnd.nextInt(10)) {
                case 0 -> {
                    int r = own(BDDNativeProxy.doComplement(x.handle));
                    check("complement", x.model.complement(), r, () -> "of " + x.model);
                    check("complement twice", x.model, own(BDDNativeProxy.doComplement(r)), () -> "of " + x.model);
                    keep(r, x.model.complement());
                }
                case 1 -> {
                    int r = own(BDDNativeProxy.doUnite(x.handle, y.handle));
                    check("unite", x.model.unite(y.model), r, () -> x.model + " " + y.model);
                    keep(r, x.model.unite(y.model));
                }
                case 2 -> {
                    int r = own(BDDNativeProxy.doIntersect(x.handle, y.handle));
                    check("intersect", x.model.intersect(y.model), r, () -> x.model + " " + y.model);
                    keep(r, x.model.intersect(y.model));
                }
                case 3 -> superset(x, y);
                case 4 -> {
                    int v = rnd.nextInt(end + 2);
                    int r = own(BDDNativeProxy.doExistsVar(x.handle, v));
                    check("existsVar", x.model.existsVar(v), r, () -> "var " + v + " of " + x.model);
                    keep(r, x.model.existsVar(v));
                }
                case 5 -> {
                    int f = rnd.nextInt(runLength.length);
                    int n = runLength[f];
                    int r = own(BDDNativeProxy.doExists(x.handle, f, n));
                    check("exists", x.model.exists(f, n), r, () -> "run " + f + "+" + n + " of " + x.model);
                    keep(r, x.model.exists(f, n));
                }
                case 6 -> relprod(x, y);
                case 7 -> rename(x);
                case 8 -> {
                    int[] t = randomTuple();
                    int r = own(BDDNativeProxy.doAddTuple(x.handle, layout.firstVar, layout.width, t));
                    check("addTuple", x.model.add(t), r, () -> Arrays.toString(t) + " into " + x.model);
                    int single = own(BDDManagerNativeProxy.doMakeSingleTuple(layout.firstVar, layout.width, t));
                    check("addTuple is unite with the single tuple", x.model.add(t),
                            own(BDDNativeProxy.doUnite(x.handle, single)), () -> Arrays.toString(t));
                    check("addTuple into zero is the single tuple", TupleSetModel.of(layout, t),
                            own(BDDNativeProxy.doAddTuple(zero, layout.firstVar, layout.width, t)),
                            () -> Arrays.toString(t));
                    keep(r, x.model.add(t));
                }
                default -> {
                    int f = rnd.nextInt(end + 4) - 2;
                    int n = rnd.nextInt(end + 4) - 1;
                    checkTruth("testVars", x.model.dependsOn(f, n), BDDNativeProxy.doTestVars(x.handle, f, n),
                            () -> "run " + f + "+" + n + " of " + x.model);
                }
            }
        }

        void superset(Held x, Held y) {
            boolean s = BDDNativeProxy.doSuperset(x.handle, y.handle);
            checkTruth("superset", x.model.superset(y.model), s, () -> x.model + " " + y.model);
            int u = own(BDDNativeProxy.doUnite(x.handle, y.handle));
            int i = own(BDDNativeProxy.doIntersect(x.handle, y.handle));
            checkTruth("superset is unite giving the first", s, u == x.handle, () -> x.model + " " + y.model);
            checkTruth("superset is intersect giving the second", s, i == y.handle, () -> x.model + " " + y.model);
        }

        void relprod(Held x, Held y) {
            int f = rnd.nextInt(runLength.length);
            int n = runLength[f];
            int r = own(BDDNativeProxy.doRelprod(x.handle, y.handle, f, n));
            TupleSetModel expected = x.model.relprod(y.model, f, n);
            check("relprod", expected, r, () -> "run " + f + "+" + n + " of " + x.model + " " + y.model);
            keep(r, expected);
            check("relprod with one is exists", x.model.exists(f, n), own(BDDNativeProxy.doRelprod(x.handle, one, f, n)),
                    () -> "run " + f + "+" + n + " of " + x.model);
            check("relprod over no variable is intersect", x.model.intersect(y.model),
                    own(BDDNativeProxy.doRelprod(x.handle, y.handle, f, 0)), () -> x.model + " " + y.model);
        }

        /**
         * Moves a whole field onto another field of the same width, after quantifying away, one
         * variable at a time, the target field and every field between the two (a rename must not
         * cross a variable the set still tests). Or renames by 0, which changes nothing.
         */
        void rename(Held x) {
            int fields = layout.fields();
            int from = rnd.nextInt(fields);
            int to = rnd.nextInt(fields);
            int firstVar = layout.firstVar[from];
            int numVars = layout.width[from];
            if (from == to || layout.width[to] != numVars) {
                check("rename by 0", x.model, own(BDDNativeProxy.doRename(x.handle, firstVar, numVars, 0)),
                        () -> "field " + from + " of " + x.model);
                return;
            }
            int handle = x.handle;
            TupleSetModel model = x.model;
            int low = Math.min(from, to);
            int high = Math.max(from, to);
            for (int f = low; f <= high; f++) {
                if (f == from) {
                    continue;
                }
                for (int v = layout.firstVar[f]; v < layout.firstVar[f] + layout.width[f]; v++) {
                    handle = own(BDDNativeProxy.doExistsVar(handle, v));
                    model = model.existsVar(v);
                }
            }
            int offset = layout.firstVar[to] - firstVar;
            int r = own(BDDNativeProxy.doRename(handle, firstVar, numVars, offset));
            TupleSetModel source = model;
            TupleSetModel expected = model.rename(firstVar, numVars, offset);
            check("rename", expected, r, () -> "field " + from + " onto " + to + " of " + source);
            keep(r, expected);
        }
    }

    @Test
    void everyOperationAgreesWithTheModel() {
        for (int i = 0; i < SEEDS; i++) {
            long seed = BASE_SEED + i;
            int[] e = ENGINES[i % ENGINES.length];
            freshEngine(e[0], e[1], e[2], e[3] != 0);
            Session session = new Session(seed);
            session.run();
            if (e[3] != 0) {
                assertEquals(0, aliveWhenDrained(), () -> session.where() + ": nodes left behind");
            }
        }
        int total = cases.values().stream().mapToInt(Integer::intValue).sum();
        System.out.println("differential: seeds " + BASE_SEED + ".." + (BASE_SEED + SEEDS - 1) + ", one layout each "
                + layouts + ", " + OPERATIONS_PER_SEED + " operations each, " + total + " cases: " + cases + "; "
                + listings + " listings, " + tuplesCompared + " tuples compared");
    }

    @Test
    void largeSetsListTheModelsTuples() {
        freshEngine();
        TupleSetModel.Layout layout = new TupleSetModel.Layout(new int[] {0, 9, 14}, new int[] {7, 5, 5});
        SplittableRandom rnd = new SplittableRandom(BASE_SEED);
        TupleSetModel model = TupleSetModel.empty(layout);
        int set = BDDManagerNativeProxy.doGetZero();
        for (int i = 0; i < 300; i++) {
            int[] t = {rnd.nextInt(128), rnd.nextInt(32), rnd.nextInt(32)};
            int next = BDDNativeProxy.doAddTuple(set, layout.firstVar, layout.width, t);
            if (set != BDDManagerNativeProxy.doGetZero()) {
                BDDNativeProxy.doDecRefCount(set);
            }
            set = next;
            model = model.add(t);
        }
        int complement = BDDNativeProxy.doComplement(set);
        TupleSetModel expected = model.complement();
        int[] all = {Integer.MAX_VALUE, Integer.MAX_VALUE, Integer.MAX_VALUE};
        assertEquals(expected.size(), BDDNativeProxy.doGetNumOfTuples(complement, layout.firstVar, layout.width, all));
        Vector<?> listed = (Vector<?>) BDDNativeProxy.doGetNTuples(complement, layout.firstVar, layout.width, all, -1);
        List<int[]> tuples = expected.tuples();
        assertEquals(tuples.size(), listed.size(), "seed " + BASE_SEED);
        for (int i = 0; i < tuples.size(); i++) {
            if (!Arrays.equals(tuples.get(i), (int[]) listed.get(i))) {
                throw new AssertionError("seed " + BASE_SEED + ": tuple " + i + " is "
                        + Arrays.toString((int[]) listed.get(i)) + ", expected " + Arrays.toString(tuples.get(i)));
            }
        }
        Vector<?> limited = (Vector<?>) BDDNativeProxy.doGetNTuples(complement, layout.firstVar, layout.width, all,
                100001);
        assertEquals(100001, limited.size());
        assertEquals(Arrays.toString(tuples.get(100000)), Arrays.toString((int[]) limited.get(100000)));
        System.out.println("large listing: " + listed.size() + " tuples, seed " + BASE_SEED);
    }
}
