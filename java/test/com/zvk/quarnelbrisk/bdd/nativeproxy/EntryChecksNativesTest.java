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

/**
 * Bad input to the diagram natives: each is refused with its message before anything changes, and
 * the next normal call gives the right answer.
 */
class EntryChecksNativesTest {
    private static final TupleSetModel.Layout LAYOUT = new TupleSetModel.Layout(new int[] {0, 4}, new int[] {2, 2});
    private static final String HANDLE = "Assert failed: Invalid node handle";
    private static final String VARIABLE = "Assert failed: Invalid variable";

    private TupleSetModel model;
    private int a;
    private int b;

    @BeforeEach
    void start() {
        freshEngine();
        model = TupleSetModel.of(LAYOUT, new int[] {0, 1}, new int[] {2, 3}, new int[] {3, 1}, new int[] {1, 0});
        a = model.build();
        b = TupleSetModel.of(LAYOUT, new int[] {2, 3}, new int[] {1, 1}).build();
    }

    @Test
    void freedAndOutOfRangeHandles() {
        int freed = BDDManagerNativeProxy.doMakeSingleTupleUnary(9, 2, 1);
        release(freed);
        BDDManagerNativeProxy.doCollectGarbage();
        int[] first = LAYOUT.firstVar();
        int[] width = LAYOUT.width();
        for (int bad : new int[] {0, -5, freed, 1 << 30}) {
            assertNativeError(HANDLE, () -> BDDNativeProxy.doUnite(a, bad));
            assertNativeError(HANDLE, () -> BDDNativeProxy.doIntersect(bad, a));
            assertNativeError(HANDLE, () -> BDDNativeProxy.doComplement(bad));
            assertNativeError(HANDLE, () -> BDDNativeProxy.doSuperset(a, bad));
            assertNativeError(HANDLE, () -> BDDNativeProxy.doAddTuple(bad, first, width, new int[] {0, 0}));
            assertNativeError(HANDLE, () -> BDDNativeProxy.doExistsVar(bad, 1));
            assertNativeError(HANDLE, () -> BDDNativeProxy.doExists(bad, 0, 2));
            assertNativeError(HANDLE, () -> BDDNativeProxy.doTestVars(bad, 0, 2));
            assertNativeError(HANDLE, () -> BDDNativeProxy.doRename(bad, 0, 2, 0));
            assertNativeError(HANDLE, () -> BDDNativeProxy.doRelprod(bad, b, 0, 2));
            assertNativeError(HANDLE, () -> BDDNativeProxy.doRelprod(a, bad, 0, 2));
            assertNativeError(HANDLE, () -> BDDNativeProxy.doGetNumOfNodes(bad));
            // The handle is checked first, whatever else is wrong.
            assertNativeError(HANDLE, () -> BDDNativeProxy.doExists(bad, 32760, 10));
        }
        assertEquals(model.exists(0, 2).build(), BDDNativeProxy.doExists(a, 0, 2));
    }

    @Test
    void badLayoutsForInsertion() {
        String layout = "Assert failed: Invalid tuple layout";
        int[] width = LAYOUT.width();
        assertNativeError(layout, () -> BDDNativeProxy.doAddTuple(a, new int[] {0, 1}, width, new int[] {0, 0}));
        assertNativeError(layout, () -> BDDNativeProxy.doAddTuple(a, new int[] {0, 4}, new int[] {2}, new int[2]));
        assertNativeError(layout, () -> BDDNativeProxy.doAddTuple(a, new int[] {0, 4}, width, null));
        assertNativeError(layout, () -> BDDNativeProxy.doAddTuple(a, new int[] {0, 32765}, width, new int[2]));
        assertEquals(BDDManagerNativeProxy.doGetOne(), BDDNativeProxy.doAddTuple(a, new int[0], new int[0], new int[0]));
        assertEquals(model.add(new int[] {3, 3}).build(), BDDNativeProxy.doAddTuple(a, LAYOUT.firstVar(), width,
                new int[] {3, 3}));
    }

    @Test
    void variablesAndRunsOutsideTheOrder() {
        assertNativeError(VARIABLE, () -> BDDNativeProxy.doExistsVar(a, 32766));
        assertNativeError(VARIABLE, () -> BDDNativeProxy.doExistsVar(a, -1));
        assertNativeError(VARIABLE, () -> BDDNativeProxy.doExists(a, 32760, 7));
        assertNativeError(VARIABLE, () -> BDDNativeProxy.doExists(a, 2, Integer.MAX_VALUE));
        assertNativeError(VARIABLE, () -> BDDNativeProxy.doExists(a, -3, 5));
        assertNativeError(VARIABLE, () -> BDDNativeProxy.doRelprod(a, b, 32765, 2));
        assertNativeError(VARIABLE, () -> BDDNativeProxy.doRelprod(a, b, Integer.MAX_VALUE, Integer.MAX_VALUE));
        assertNativeError(VARIABLE, () -> BDDNativeProxy.doRename(a, 32760, 7, 0));
        assertNativeError(VARIABLE, () -> BDDNativeProxy.doRename(a, 0, 2, 32768));
        assertNativeError(VARIABLE, () -> BDDNativeProxy.doRename(a, 0, 2, -32769));
        assertNativeError(VARIABLE, () -> BDDNativeProxy.doRename(a, 4, 2, -5));
        assertNativeError(VARIABLE, () -> BDDNativeProxy.doRename(a, 4, 2, 32761));
        assertEquals(model.existsVar(4).build(), BDDNativeProxy.doExistsVar(a, 4));
        assertEquals(model.relprod(TupleSetModel.full(LAYOUT), 4, 2).build(),
                BDDNativeProxy.doRelprod(a, BDDManagerNativeProxy.doGetOne(), 4, 2));
        // The test only asks, so any run is answered for the variables it names.
        assertTrue(BDDNativeProxy.doTestVars(a, -10, 11));
        assertTrue(BDDNativeProxy.doTestVars(a, 5, Integer.MAX_VALUE));
        assertFalse(BDDNativeProxy.doTestVars(a, 2, 2));
        assertFalse(BDDNativeProxy.doTestVars(a, 40000, 5));
    }

    @Test
    void runsOfNoVariablesChangeNothing() {
        assertEquals(a, BDDNativeProxy.doExists(a, 0, 0));
        assertEquals(a, BDDNativeProxy.doExists(a, 40000, -3));
        assertEquals(a, BDDNativeProxy.doRename(a, 0, 0, 9));
        assertEquals(BDDNativeProxy.doIntersect(a, b), BDDNativeProxy.doRelprod(a, b, 0, 0));
        assertEquals(BDDNativeProxy.doIntersect(a, b), BDDNativeProxy.doRelprod(a, b, -7, Integer.MIN_VALUE));
        assertFalse(BDDNativeProxy.doTestVars(a, 0, 0));
        assertEquals(a, BDDNativeProxy.doRename(a, 4, 2, 0));
    }

    @Test
    void aRenameThatBreaksTheOrderLeavesNothingBehind() {
        int drained = aliveWhenDrained();
        String order = "Assert failed: Variable order violated";
        // Field 0 moved onto variables 3..4 meets field 1's variable 4.
        assertNativeError(order, () -> BDDNativeProxy.doRename(a, 0, 2, 3));
        assertNativeError(order, () -> BDDNativeProxy.doRename(a, 4, 2, -4));
        assertEquals(drained, aliveWhenDrained());
        int moved = BDDNativeProxy.doRename(a, 0, 2, 2);
        TupleSetModel.Layout shifted = new TupleSetModel.Layout(new int[] {2, 4}, new int[] {2, 2});
        assertEquals(TupleSetModel.of(shifted, new int[] {0, 1}, new int[] {2, 3}, new int[] {3, 1}, new int[] {1, 0})
                .build(), moved);
    }

    @Test
    void missingAndShortLayoutArraysAreRefused() {
        String layout = "Assert failed: Invalid tuple layout";
        int one = BDDManagerNativeProxy.doGetOne();
        int[] first = {0, 3};
        int[] width = {2, 2};
        assertNativeError(layout, () -> BDDManagerNativeProxy.doMakeSingleTuple(null, new int[] {1}, new int[] {1}));
        assertNativeError(layout, () -> BDDManagerNativeProxy.doMakeSingleTuple(first, new int[] {2}, new int[] {1, 1}));
        assertNativeError(layout, () -> BDDManagerNativeProxy.doMakeSingleTuple(first, width, null));
        assertNativeError(layout, () -> BDDNativeProxy.doGetNumOfTuples(one, null, width, width));
        assertNativeError(layout, () -> BDDNativeProxy.doGetNumOfTuples(one, first, null, width));
        assertNativeError(layout, () -> BDDNativeProxy.doGetNumOfTuples(one, first, width, null));
        assertNativeError(layout, () -> BDDNativeProxy.doGetNumOfTuples(one, first, new int[] {2}, width));
        assertNativeError(layout, () -> BDDNativeProxy.doGetNTuples(one, first, width, new int[] {4}, -1));
        assertNativeError(layout, () -> BDDNativeProxy.doGetNTuples(one, first, width, null, -1));
        assertNativeError(HANDLE, () -> BDDNativeProxy.doGetNumOfTuples(0, first, width, width));
        assertNativeError(HANDLE, () -> BDDNativeProxy.doGetNTuples(1 << 30, first, width, width, -1));
        // Longer second and third arrays are fine: the first gives the number of fields.
        assertEquals(BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 2, 1),
                BDDManagerNativeProxy.doMakeSingleTuple(new int[] {0}, new int[] {2, 9}, new int[] {1, 7}));
        assertEquals(16, BDDNativeProxy.doGetNumOfTuples(one, first, width, new int[2]));
    }
}
