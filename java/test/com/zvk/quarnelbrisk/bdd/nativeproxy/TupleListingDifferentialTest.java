package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.freshEngine;
import static org.junit.jupiter.api.Assertions.assertEquals;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;
import java.util.Vector;
import org.junit.jupiter.api.Test;

/**
 * Every set operation's result, read back tuple by tuple: random sets and chains of operations on
 * them through the natives, each result counted and listed (whole, within random bounds, and up to
 * random limits) and compared with the tuples of its {@link TupleSetModel}. Several engine
 * configurations run, among them small caches with a collection at every other creation, so that
 * count entries meet freed and reused records.
 */
class TupleListingDifferentialTest {
    private static final long BASE_SEED = 0xC0047L;
    private static final int SEEDS = 120;
    private static final int OPERATIONS_PER_SEED = 40;

    /** maxNodeCacheSize, maxOpCacheSize, garbageCollectRate, enableGC (1 or 0). */
    private static final int[][] ENGINES = {
        {1 << 22, 1 << 20, 1000, 1}, {1 << 8, 200, 1, 1}, {1 << 12, 600, 0, 1}, {1 << 22, 1 << 10, 5, 0},
    };

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

    private final class Session {
        final long seed;
        final Random rnd;
        final TupleSetModel.Layout layout;
        final int zero = BDDManagerNativeProxy.doGetZero();
        final int one = BDDManagerNativeProxy.doGetOne();
        final List<Integer> owned = new ArrayList<>();
        final List<Integer> handles = new ArrayList<>();
        final List<TupleSetModel> models = new ArrayList<>();

        Session(long seed) {
            this.seed = seed;
            rnd = new Random(seed);
            int fields = 1 + rnd.nextInt(3);
            int[] first = new int[fields];
            int[] width = new int[fields];
            int v = rnd.nextInt(3);
            for (int f = 0; f < fields; f++) {
                first[f] = v;
                width[f] = 1 + rnd.nextInt(3);
                v += width[f] + (rnd.nextBoolean() ? rnd.nextInt(3) : 0);
            }
            layout = new TupleSetModel.Layout(first, width);
        }

        String where() {
            return "seed " + seed + ", layout " + layout;
        }

        int own(int handle) {
            owned.add(handle);
            return handle;
        }

        void keep(int handle, TupleSetModel model) {
            handles.add(handle);
            models.add(model);
            check(handle, model);
        }

        int[] randomBound() {
            int[] bound = new int[layout.fields()];
            for (int f = 0; f < bound.length; f++) {
                bound[f] = rnd.nextInt(4) == 0 ? Integer.MAX_VALUE : rnd.nextInt((1 << layout.width[f]) + 2) - 1;
            }
            return bound;
        }

        void compare(int handle, TupleSetModel model, int[] bound, int maxTuples) {
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

        void check(int handle, TupleSetModel model) {
            int[] none = new int[layout.fields()];
            assertEquals(model.size(), BDDNativeProxy.doGetNumOfTuples(handle, layout.firstVar, layout.width, none),
                    () -> where() + ": count of " + model);
            int[] all = new int[layout.fields()];
            Arrays.fill(all, Integer.MAX_VALUE);
            compare(handle, model, all, -1);
            compare(handle, model, randomBound(), -1);
            compare(handle, model, randomBound(), 0);
            compare(handle, model, randomBound(), 1 + rnd.nextInt(4));
        }

        int[] randomTuple() {
            int[] t = new int[layout.fields()];
            for (int f = 0; f < t.length; f++) {
                t[f] = rnd.nextInt(1 << layout.width[f]);
            }
            return t;
        }

        int pick() {
            return rnd.nextInt(handles.size());
        }

        void run() {
            keep(zero, TupleSetModel.empty(layout));
            keep(one, TupleSetModel.full(layout));
            for (int i = 0; i < 4; i++) {
                int h = zero;
                TupleSetModel m = TupleSetModel.empty(layout);
                int n = rnd.nextInt(1 + layout.domainSize() / 2);
                for (int k = 0; k < n; k++) {
                    int[] t = randomTuple();
                    h = own(BDDNativeProxy.doAddTuple(h, layout.firstVar, layout.width, t));
                    m = m.add(t);
                }
                keep(h, m);
            }
            for (int i = 0; i < OPERATIONS_PER_SEED; i++) {
                step();
            }
            for (int h : owned) {
                if (h != zero && h != one) {
                    BDDNativeProxy.doDecRefCount(h);
                }
            }
        }

        void step() {
            int x = pick();
            int y = pick();
            int hx = handles.get(x);
            int hy = handles.get(y);
            TupleSetModel mx = models.get(x);
            TupleSetModel my = models.get(y);
            int f = rnd.nextInt(layout.fields());
            int fieldVar = layout.firstVar[f];
            int fieldWidth = layout.width[f];
            switch (rnd.nextInt(7)) {
                case 0 -> keep(own(BDDNativeProxy.doComplement(hx)), mx.complement());
                case 1 -> keep(own(BDDNativeProxy.doUnite(hx, hy)), mx.unite(my));
                case 2 -> keep(own(BDDNativeProxy.doIntersect(hx, hy)), mx.intersect(my));
                case 3 -> {
                    int[] t = randomTuple();
                    keep(own(BDDNativeProxy.doAddTuple(hx, layout.firstVar, layout.width, t)), mx.add(t));
                }
                case 4 -> {
                    int v = fieldVar + rnd.nextInt(fieldWidth);
                    keep(own(BDDNativeProxy.doExistsVar(hx, v)), mx.existsVar(v));
                }
                case 5 -> keep(own(BDDNativeProxy.doExists(hx, fieldVar, fieldWidth)), mx.exists(fieldVar, fieldWidth));
                default -> keep(own(BDDNativeProxy.doRelprod(hx, hy, fieldVar, fieldWidth)),
                        mx.relprod(my, fieldVar, fieldWidth));
            }
        }
    }

    @Test
    void everyResultListsTheModelsTuples() {
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
        System.out.println("listing differential: seeds " + BASE_SEED + ".." + (BASE_SEED + SEEDS - 1) + ", "
                + OPERATIONS_PER_SEED + " operations each, " + listings + " listings, " + tuplesCompared
                + " tuples compared");
    }

    @Test
    void largeSetsListTheModelsTuples() {
        freshEngine();
        TupleSetModel.Layout layout = new TupleSetModel.Layout(new int[] {0, 9, 14}, new int[] {7, 5, 5});
        Random rnd = new Random(BASE_SEED);
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
