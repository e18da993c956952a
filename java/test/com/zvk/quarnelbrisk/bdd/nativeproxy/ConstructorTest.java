package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveNodes;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.assertNativeError;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.freshEngine;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class ConstructorTest {
    private static final String LAYOUT = "Assert failed: Invalid tuple layout";

    @BeforeEach
    void start() {
        freshEngine();
    }

    @Test
    void constantsAreStableAndDistinct() {
        int zero = BDDManagerNativeProxy.doGetZero();
        int one = BDDManagerNativeProxy.doGetOne();
        assertNotEquals(zero, one);
        for (int i = 0; i < 3; i++) {
            BDDManagerNativeProxy.doMakeSingleTupleUnary(i, 3, i);
            assertEquals(zero, BDDManagerNativeProxy.doGetZero());
            assertEquals(one, BDDManagerNativeProxy.doGetOne());
        }
    }

    @Test
    void resultsAreCanonical() {
        assertEquals(BDDManagerNativeProxy.doMakeEquals(7, 3), BDDManagerNativeProxy.doMakeEquals(3, 7));
        assertEquals(BDDManagerNativeProxy.doMakeSingleTupleUnary(4, 3, 5),
                BDDManagerNativeProxy.doMakeSingleTuple(new int[] {4}, new int[] {3}, new int[] {5}));
        int tuple = BDDManagerNativeProxy.doMakeSingleTuple(new int[] {0, 8}, new int[] {4, 4}, new int[] {9, 3});
        assertEquals(tuple, BDDManagerNativeProxy.doMakeSingleTuple(new int[] {0, 8}, new int[] {4, 4}, new int[] {25, 3}),
                "value bits above the width are ignored");
        assertNotEquals(tuple, BDDManagerNativeProxy.doMakeSingleTuple(new int[] {0, 8}, new int[] {4, 4}, new int[] {9, 4}));
        assertEquals(3 + 3 + 8 + 8, aliveNodes(), "the equality, the unary chain and two 8-node chains that share nothing");
    }

    @Test
    void emptyTuplesAreTheFullSet() {
        int one = BDDManagerNativeProxy.doGetOne();
        assertEquals(one, BDDManagerNativeProxy.doMakeSingleTuple(new int[0], new int[0], new int[0]));
        assertEquals(one, BDDManagerNativeProxy.doMakeSingleTupleUnary(5, 0, 1));
        assertEquals(0, aliveNodes());
    }

    @Test
    void badVariablesAndLayoutsAreRefused() {
        assertNativeError("Assert failed: Invalid variable", () -> BDDManagerNativeProxy.doMakeEquals(4, 4));
        assertNativeError("Assert failed: Invalid variable", () -> BDDManagerNativeProxy.doMakeEquals(-1, 4));
        assertNativeError("Assert failed: Invalid variable", () -> BDDManagerNativeProxy.doMakeEquals(2, 32766));
        assertNativeError(LAYOUT, () -> BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 32, 1));
        assertNativeError(LAYOUT, () -> BDDManagerNativeProxy.doMakeSingleTupleUnary(32765, 2, 1));
        assertNativeError(LAYOUT, () -> BDDManagerNativeProxy.doMakeSingleTuple(null, new int[] {1}, new int[] {1}));
        assertNativeError(LAYOUT, () -> BDDManagerNativeProxy.doMakeSingleTuple(new int[] {0, 4}, new int[] {2}, new int[] {1, 1}));
        assertNativeError(LAYOUT, () -> BDDManagerNativeProxy.doMakeSingleTuple(new int[] {0, 4}, new int[] {2, 2}, null));
        assertNativeError(LAYOUT, () -> BDDManagerNativeProxy.doMakeSingleTuple(new int[] {0, 1}, new int[] {2, 2}, new int[] {1, 1}));
        assertNativeError(LAYOUT, () -> BDDManagerNativeProxy.doMakeSingleTuple(new int[] {6, 0}, new int[] {2, 2}, new int[] {1, 1}));
        assertNativeError(LAYOUT, () -> BDDManagerNativeProxy.doMakeSingleTuple(new int[] {0}, new int[] {40}, new int[] {1}));
        assertEquals(0, aliveNodes(), "refused before anything is built");
        // Longer second and third arrays are fine; the first gives the number of fields.
        assertEquals(BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 2, 1),
                BDDManagerNativeProxy.doMakeSingleTuple(new int[] {0}, new int[] {2, 9}, new int[] {1, 7}));
    }
}
