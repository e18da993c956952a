package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.assertNativeError;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.freshEngine;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.release;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** Union, intersection, complement, inclusion and insertion through the natives. */
class SetAlgebraNativesTest {
    private static final int[] FIRST = {0, 3};
    private static final int[] WIDTH = {2, 2};

    private int zero;
    private int one;

    @BeforeEach
    void start() {
        freshEngine();
        zero = BDDManagerNativeProxy.doGetZero();
        one = BDDManagerNativeProxy.doGetOne();
    }

    private static int single(int x, int y) {
        return BDDManagerNativeProxy.doMakeSingleTuple(FIRST, WIDTH, new int[] {x, y});
    }

    private static int add(int set, int x, int y) {
        return BDDNativeProxy.doAddTuple(set, FIRST, WIDTH, new int[] {x, y});
    }

    @Test
    void insertionUnionAndIntersectionAgree() {
        int a = add(single(1, 2), 3, 0);
        int b = add(single(3, 0), 2, 2);
        assertEquals(single(1, 2), add(zero, 1, 2));
        assertEquals(one, add(one, 1, 2));
        int ab = BDDNativeProxy.doUnite(a, b);
        assertEquals(ab, add(a, 2, 2));
        assertEquals(ab, BDDNativeProxy.doUnite(b, a));
        assertEquals(single(3, 0), BDDNativeProxy.doIntersect(a, b));
        assertTrue(BDDNativeProxy.doSuperset(ab, a));
        assertFalse(BDDNativeProxy.doSuperset(a, ab));
        int notA = BDDNativeProxy.doComplement(a);
        assertEquals(a, BDDNativeProxy.doComplement(notA));
        assertEquals(zero, BDDNativeProxy.doIntersect(a, notA));
        assertEquals(one, BDDNativeProxy.doUnite(a, notA));
    }

    @Test
    void anEmptyLayoutAddsEveryAssignment() {
        int a = single(1, 2);
        assertEquals(one, BDDNativeProxy.doAddTuple(a, new int[0], new int[0], new int[0]));
    }

    @Test
    void badHandlesAndLayoutsAreRefusedAndTheNextCallWorks() {
        int a = single(1, 2);
        int b = single(2, 1);
        int freed = single(3, 3);
        release(freed);
        BDDManagerNativeProxy.doCollectGarbage();
        String handle = "Assert failed: Invalid node handle";
        for (int bad : new int[] {0, -1, freed, Integer.MAX_VALUE}) {
            assertNativeError(handle, () -> BDDNativeProxy.doUnite(a, bad));
            assertNativeError(handle, () -> BDDNativeProxy.doIntersect(bad, a));
            assertNativeError(handle, () -> BDDNativeProxy.doComplement(bad));
            assertNativeError(handle, () -> BDDNativeProxy.doSuperset(a, bad));
            assertNativeError(handle, () -> BDDNativeProxy.doAddTuple(bad, FIRST, WIDTH, new int[] {0, 0}));
        }
        String layout = "Assert failed: Invalid tuple layout";
        assertNativeError(layout, () -> BDDNativeProxy.doAddTuple(a, new int[] {0, 1}, WIDTH, new int[] {0, 0}));
        assertNativeError(layout, () -> BDDNativeProxy.doAddTuple(a, FIRST, new int[] {2}, new int[] {0, 0}));
        assertNativeError(layout, () -> BDDNativeProxy.doAddTuple(a, FIRST, WIDTH, null));
        int ab = BDDNativeProxy.doUnite(a, b);
        assertEquals(ab, add(a, 2, 1));
        release(ab, ab, a, b);
        assertEquals(0, aliveWhenDrained());
    }
}
