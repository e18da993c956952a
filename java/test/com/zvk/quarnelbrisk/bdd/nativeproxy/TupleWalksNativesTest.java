package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveNodes;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.assertNativeError;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.freshEngine;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Vector;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** Counting and listing tuples through the natives, on the edge cases of both walks. */
class TupleWalksNativesTest {
    private static final String COUNT_ERROR = "Assert failed: BDDNativeImpl.getNumOfTuples";
    private static final String LIST_ERROR = "Assert failed: BDDNativeImpl.getTuples";
    private static final String LAYOUT_ERROR = "Assert failed: Invalid tuple layout";

    private int zero;
    private int one;

    @BeforeEach
    void start() {
        freshEngine();
        zero = BDDManagerNativeProxy.doGetZero();
        one = BDDManagerNativeProxy.doGetOne();
    }

    private static int[] ints(int... v) {
        return v;
    }

    private static int count(int node, int[] first, int[] width) {
        return BDDNativeProxy.doGetNumOfTuples(node, first, width, new int[first.length]);
    }

    /** The listed tuples, as "[a, b]" strings in the order of the Vector. */
    static List<String> list(int node, int[] first, int[] width, int[] bound, int maxTuples) {
        Object v = BDDNativeProxy.doGetNTuples(node, first, width, bound, maxTuples);
        Vector<?> vector = assertInstanceOf(Vector.class, v);
        List<String> out = new ArrayList<>();
        for (Object t : vector) {
            int[] tuple = assertInstanceOf(int[].class, t);
            assertEquals(first.length, tuple.length);
            out.add(Arrays.toString(tuple));
        }
        return out;
    }

    private static List<String> tuples(String... t) {
        return List.of(t);
    }

    @Test
    void countsOfTerminalsAndSmallSets() {
        assertEquals(0, count(zero, ints(0, 3), ints(3, 2)));
        assertEquals(32, count(one, ints(0, 3), ints(3, 2)));
        assertEquals(Integer.MIN_VALUE, count(one, ints(0, 16), ints(16, 15)));
        assertEquals(0, count(one, ints(0, 16), ints(16, 16)));
        assertEquals(4, count(one, ints(0, 5), ints(1, 1)));
        assertEquals(1, count(one, ints(), ints()));

        int[] first = {1, 4};
        int[] width = {3, 2};
        int a = BDDManagerNativeProxy.doMakeSingleTuple(first, width, ints(6, 1));
        assertEquals(1, count(a, first, width));
        int ab = BDDNativeProxy.doAddTuple(a, first, width, ints(2, 3));
        assertEquals(2, count(ab, first, width));
        assertEquals(2, BDDNativeProxy.doGetNumOfTuples(ab, first, width, ints(-7, Integer.MAX_VALUE)));
        int aa = BDDNativeProxy.doAddTuple(ab, first, width, ints(6, 1));
        assertEquals(ab, aa);
        assertEquals(2, count(aa, first, width));
    }

    @Test
    void listingsInOrderWithinBoundsAndLimits() {
        assertEquals(tuples(), list(zero, ints(0), ints(2), ints(9), -1));
        assertEquals(tuples("[0]", "[1]", "[2]"), list(one, ints(0), ints(2), ints(3), -1));
        assertEquals(tuples("[0]", "[1]", "[2]", "[3]"), list(one, ints(0), ints(2), ints(4), -1));
        assertEquals(tuples("[0]", "[1]", "[2]", "[3]"), list(one, ints(0), ints(2), ints(50), -1));
        assertEquals(tuples(), list(one, ints(0), ints(2), ints(0), -1));
        assertEquals(tuples("[]"), list(one, ints(), ints(), ints(), -1));
        assertEquals(tuples("[0, 0]", "[0, 1]", "[1, 0]", "[1, 1]"), list(one, ints(0, 5), ints(1, 1), ints(2, 2), -1));

        int[] first = {0, 2};
        int[] width = {2, 2};
        int[] bound = {4, 4};
        int set = BDDManagerNativeProxy.doMakeSingleTuple(first, width, ints(3, 3));
        assertEquals(tuples("[3, 3]"), list(set, first, width, bound, -1));
        assertEquals(tuples(), list(set, first, width, ints(3, 4), -1));
        for (int[] t : new int[][] {{1, 2}, {0, 3}, {2, 0}, {1, 1}}) {
            set = BDDNativeProxy.doAddTuple(set, first, width, t);
        }
        List<String> all = tuples("[0, 3]", "[1, 1]", "[1, 2]", "[2, 0]", "[3, 3]");
        assertEquals(all.subList(0, 2), list(set, first, width, bound, 2));
        assertEquals(all, list(set, first, width, bound, -1));
        assertEquals(all, list(set, first, width, bound, 0));
        assertEquals(all, list(set, first, width, bound, 5));
        assertEquals(tuples("[1, 1]", "[1, 2]", "[2, 0]"), list(set, first, width, ints(4, 3), -1));

        int[] cutFirst = {0, 1};
        int[] cutWidth = {1, 2};
        int pair = BDDNativeProxy.doAddTuple(BDDManagerNativeProxy.doMakeSingleTuple(cutFirst, cutWidth, ints(0, 3)),
                cutFirst, cutWidth, ints(1, 0));
        assertEquals(tuples(), list(pair, cutFirst, cutWidth, ints(2, 1), 0));
        assertEquals(tuples("[1, 0]"), list(pair, cutFirst, cutWidth, ints(2, 1), -1));
    }

    @Test
    void variablesOutsideTheLayoutAreRefused() {
        // Tests variables 0, 1 (field 0) and 3, 4 (field 1).
        int[] first = {0, 3};
        int[] width = {2, 2};
        int set = BDDManagerNativeProxy.doMakeSingleTuple(first, width, ints(2, 1));
        int alive = aliveNodes();
        assertNativeError(COUNT_ERROR, () -> count(set, ints(0, 4), ints(2, 1)));
        assertNativeError(COUNT_ERROR, () -> count(set, ints(0), ints(2)));
        assertNativeError(COUNT_ERROR, () -> count(set, ints(), ints()));
        assertNativeError(LIST_ERROR, () -> list(set, ints(0, 4), ints(2, 1), ints(9, 9), -1));
        assertNativeError(LIST_ERROR, () -> list(set, ints(0), ints(2), ints(9), -1));
        assertNativeError(LIST_ERROR, () -> list(set, ints(1, 3), ints(1, 2), ints(9, 9), 1));
        assertNativeError(LIST_ERROR, () -> list(set, ints(), ints(), ints(), -1));
        assertEquals(alive, aliveNodes());
        assertEquals(1, count(set, first, width));
        assertEquals(tuples("[2, 1]"), list(set, first, width, ints(4, 4), -1));
    }

    @Test
    void brokenArgumentsAreRefusedBeforeAnythingHappens() {
        int[] first = {0, 3};
        int[] width = {2, 2};
        assertNativeError(LAYOUT_ERROR, () -> BDDNativeProxy.doGetNumOfTuples(one, null, width, width));
        assertNativeError(LAYOUT_ERROR, () -> BDDNativeProxy.doGetNumOfTuples(one, first, null, width));
        assertNativeError(LAYOUT_ERROR, () -> BDDNativeProxy.doGetNumOfTuples(one, first, width, null));
        assertNativeError(LAYOUT_ERROR, () -> BDDNativeProxy.doGetNumOfTuples(one, first, ints(2), width));
        assertNativeError(LAYOUT_ERROR, () -> BDDNativeProxy.doGetNTuples(one, first, width, ints(4), -1));
        assertNativeError(LAYOUT_ERROR, () -> BDDNativeProxy.doGetNTuples(one, first, width, null, -1));
        assertNativeError(LAYOUT_ERROR, () -> count(one, ints(0, 1), ints(2, 2)));
        assertNativeError(LAYOUT_ERROR, () -> count(one, ints(0), ints(32)));
        assertNativeError(LAYOUT_ERROR, () -> count(zero, ints(-1), ints(1)));
        assertNativeError(LAYOUT_ERROR, () -> list(zero, ints(32765), ints(2), ints(4), -1));
        assertNativeError("Assert failed: Invalid node handle", () -> count(0, first, width));
        assertNativeError("Assert failed: Invalid node handle", () -> list(1 << 30, first, width, width, -1));
        assertEquals(16, count(one, first, width));
    }
}
