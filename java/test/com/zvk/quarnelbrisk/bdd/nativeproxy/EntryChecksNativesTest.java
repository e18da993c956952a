package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.freshEngine;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.refused;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.release;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.Capture;
import com.zvk.quarnelbrisk.bdd.nativeproxy.StreamSupport.Feed;
import java.util.List;
import java.util.Vector;
import org.junit.jupiter.api.Test;

/**
 * Bad input to the natives: each call is refused with its exact message, the virtual machine goes
 * on, nothing of the refused calls stays in the store, and the next calls answer right.
 */
class EntryChecksNativesTest {
    private static final int[] FIRST = {0, 4};
    private static final int[] WIDTH = {2, 2};
    private static final int[] OPEN = {Integer.MAX_VALUE, Integer.MAX_VALUE};

    @Test
    void badInputIsRefusedWithItsMessageAndLeavesNothingBehind() throws Exception {
        freshEngine();
        int a = EngineSupport.set(FIRST, WIDTH, new int[] {0, 1}, new int[] {2, 3}, new int[] {3, 1}, new int[] {1, 0});
        int b = EngineSupport.set(FIRST, WIDTH, new int[] {2, 3}, new int[] {1, 1});
        int one = BDDManagerNativeProxy.doGetOne();
        int freed = BDDManagerNativeProxy.doMakeSingleTupleUnary(9, 2, 1);
        release(freed);
        int baseline = aliveWhenDrained();
        Capture out = new Capture(false);
        for (int bad : new int[] {0, -5, Integer.MIN_VALUE, freed, 1 << 30}) {
            refused("Invalid node handle", () -> BDDNativeProxy.doIncRefCount(bad),
                    () -> BDDNativeProxy.doUnite(a, bad), () -> BDDNativeProxy.doIntersect(bad, a),
                    () -> BDDNativeProxy.doComplement(bad), () -> BDDNativeProxy.doSuperset(a, bad),
                    () -> BDDNativeProxy.doAddTuple(bad, FIRST, WIDTH, new int[2]),
                    () -> BDDNativeProxy.doExistsVar(bad, 1), () -> BDDNativeProxy.doExists(bad, 32760, 10),
                    () -> BDDNativeProxy.doTestVars(bad, 0, 2), () -> BDDNativeProxy.doRename(bad, 0, 2, 0),
                    () -> BDDNativeProxy.doRelprod(bad, b, 0, 2), () -> BDDNativeProxy.doRelprod(a, bad, 0, 2),
                    () -> BDDNativeProxy.doGetNumOfNodes(bad),
                    () -> BDDNativeProxy.doGetNumOfTuples(bad, FIRST, WIDTH, OPEN),
                    () -> BDDNativeProxy.doGetNTuples(bad, FIRST, WIDTH, OPEN, -1),
                    () -> BDDManagerNativeProxy.doSerialize(out, new int[] {a, bad}, null, 1.0, ""));
            if (bad != freed) {
                refused("Invalid node handle", () -> BDDNativeProxy.doDecRefCount(bad));
            }
        }
        refused("Invalid variable", () -> BDDNativeProxy.doExistsVar(a, 32766), () -> BDDNativeProxy.doExistsVar(a, -1),
                () -> BDDNativeProxy.doExists(a, 32760, 7), () -> BDDNativeProxy.doExists(a, 2, Integer.MAX_VALUE),
                () -> BDDNativeProxy.doExists(a, -3, 5), () -> BDDNativeProxy.doRelprod(a, b, 32765, 2),
                () -> BDDNativeProxy.doRelprod(a, b, Integer.MAX_VALUE, Integer.MAX_VALUE),
                () -> BDDNativeProxy.doRename(a, 32760, 7, 0), () -> BDDNativeProxy.doRename(a, 0, 2, 32768),
                () -> BDDNativeProxy.doRename(a, 0, 2, -32769), () -> BDDNativeProxy.doRename(a, 4, 2, -5),
                () -> BDDNativeProxy.doRename(a, 4, 2, 32761));
        // Field 0 moved onto variables 3..4 meets field 1's variable 4, and back again.
        refused("Variable order violated", () -> BDDNativeProxy.doRename(a, 0, 2, 3),
                () -> BDDNativeProxy.doRename(a, 4, 2, -4));
        refused("Invalid tuple layout",
                () -> BDDNativeProxy.doAddTuple(a, new int[] {0, 1}, WIDTH, new int[2]),
                () -> BDDNativeProxy.doAddTuple(a, FIRST, new int[] {2}, new int[2]),
                () -> BDDNativeProxy.doAddTuple(a, FIRST, WIDTH, null),
                () -> BDDNativeProxy.doAddTuple(a, new int[] {0, 32765}, WIDTH, new int[2]),
                () -> BDDManagerNativeProxy.doMakeSingleTuple(null, new int[] {1}, new int[] {1}),
                () -> BDDManagerNativeProxy.doMakeSingleTuple(FIRST, new int[] {2}, new int[] {1, 1}),
                () -> BDDNativeProxy.doGetNumOfTuples(one, FIRST, null, OPEN),
                () -> BDDNativeProxy.doGetNumOfTuples(one, FIRST, WIDTH, new int[] {4}),
                () -> BDDNativeProxy.doGetNTuples(one, null, WIDTH, OPEN, -1),
                () -> BDDNativeProxy.doGetNTuples(one, FIRST, WIDTH, null, -1),
                () -> BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 32, 5),
                () -> BDDManagerNativeProxy.doMakeSingleTupleUnary(32760, 9, 5));
        // The diagram tests variables 4 and 5, outside a layout of field 0 alone.
        refused("BDDNativeImpl.getNumOfTuples", () -> BDDNativeProxy.doGetNumOfTuples(a, new int[] {0}, WIDTH, OPEN));
        refused("BDDNativeImpl.getTuples", () -> BDDNativeProxy.doGetNTuples(a, new int[] {0}, WIDTH, OPEN, -1));
        refused("Invalid root list", () -> BDDManagerNativeProxy.doSerialize(out, null, null, 1.0, ""));
        refused("Invalid stream", () -> BDDManagerNativeProxy.doSerialize(null, new int[] {a}, null, 1.0, ""),
                () -> BDDManagerNativeProxy.doDeserialize(out, null, 1.0, ""));
        refused("Invalid callback", () -> BDDManagerNativeProxy.doSerialize(out, new int[] {a}, "x", 1.0, ""),
                () -> BDDManagerNativeProxy.doDeserialize(new Feed(), 1, 1.0, ""));
        int[] stream = StreamSupport.write(a, b);
        StreamSupport.Recorder reentrant = new StreamSupport.Recorder();
        reentrant.onReport = BDDManagerNativeProxy::doGetOne;
        refused("Concurrent or reentrant call",
                () -> BDDManagerNativeProxy.doSerialize(out, new int[] {a}, reentrant, 1.0, ""),
                () -> BDDManagerNativeProxy.doDeserialize(new Feed((Object) stream), reentrant, 1.0, ""));
        assertEquals(List.of(), out.written);
        // The natives over any variables: lists that repeat a variable or leave 0..32765, a set that
        // is not a cube, maps that are not one-to-one or unknown, fields that overlap or do not add
        // up, values too wide for their field, lists of different widths.
        int[] vars = {0, 1, 4, 5};
        int[] widths = {2, 2};
        refused("Invalid variable list", () -> BDDFieldNativeProxy.doMakeCube(new int[] {3, 3}),
                () -> BDDFieldNativeProxy.doMakeCube(new int[] {32766}), () -> BDDFieldNativeProxy.doMakeCube(null),
                () -> BDDFieldNativeProxy.doRegisterMap(new int[] {1}, new int[] {-1}),
                () -> BDDFieldNativeProxy.doMakeRange(new int[] {2, 2}, 0, 1),
                () -> BDDFieldNativeProxy.doMakeEqual(new int[] {0, 1}, new int[] {4}),
                () -> BDDFieldNativeProxy.doMakePlus(new int[] {0, 1}, new int[] {1, 4}, 1));
        refused("Invalid variable set", () -> BDDFieldNativeProxy.doExistsSet(a, a),
                () -> BDDFieldNativeProxy.doRelprodSet(a, b, BDDManagerNativeProxy.doGetZero()));
        refused("Invalid variable map", () -> BDDFieldNativeProxy.doRegisterMap(new int[] {0, 1}, new int[] {4, 4}),
                () -> BDDFieldNativeProxy.doRegisterMap(new int[] {0, 0}, new int[] {4, 5}),
                () -> BDDFieldNativeProxy.doRegisterMap(new int[] {0}, new int[] {4, 5}),
                () -> BDDFieldNativeProxy.doReplace(a, 1 << 20), () -> BDDFieldNativeProxy.doReplace(a, -1));
        refused("Invalid tuple layout", () -> BDDFieldNativeProxy.doMakeTuple(new int[] {0, 1, 1, 5}, widths, new int[2]),
                () -> BDDFieldNativeProxy.doMakeTuple(vars, new int[] {2, 1}, new int[2]),
                () -> BDDFieldNativeProxy.doMakeTuple(vars, widths, new int[1]),
                () -> BDDFieldNativeProxy.doAddTuples(a, vars, widths, new int[3]),
                () -> BDDFieldNativeProxy.doListTuples(a, vars, widths, new int[1], null, false, 5),
                () -> BDDFieldNativeProxy.doGetExactNumOfTuples(a, vars, new int[] {2, 32}));
        refused("Tuple value out of range", () -> BDDFieldNativeProxy.doMakeTuple(vars, widths, new int[] {4, 0}),
                () -> BDDFieldNativeProxy.doAddTuples(a, vars, widths, new int[] {0, -1}));
        refused("BDDNativeImpl.getTuples",
                () -> BDDFieldNativeProxy.doListTuples(a, new int[] {0, 1}, new int[] {2}, null, null, false, 5));
        assertEquals(baseline, aliveWhenDrained());

        // The engine answers right afterwards, also at the edges: runs of no variables change
        // nothing, the variable test answers any run for the variables it names, the first array
        // gives the number of fields (longer others are fine, none is the empty tuple), and counts go
        // modulo 2^32.
        assertArrayEquals(new int[] {a, b}, StreamSupport.read(stream));
        assertEquals(Integer.MIN_VALUE, BDDNativeProxy.doGetNumOfTuples(one, new int[] {0, 16}, new int[] {16, 15}, OPEN));
        assertEquals(1, ((Vector<?>) BDDNativeProxy.doGetNTuples(one, new int[0], new int[0], new int[0], 0)).size());
        int ab = BDDNativeProxy.doIntersect(a, b);
        assertArrayEquals(new int[] {a, a, a, a, ab, ab}, new int[] {BDDNativeProxy.doExists(a, 0, 0),
            BDDNativeProxy.doExists(a, 40000, -3), BDDNativeProxy.doRename(a, 0, 0, 9), BDDNativeProxy.doRename(a, 4, 2, 0),
            BDDNativeProxy.doRelprod(a, b, 0, 0), BDDNativeProxy.doRelprod(a, b, -7, Integer.MIN_VALUE)});
        assertTrue(BDDNativeProxy.doTestVars(a, -10, 11) && BDDNativeProxy.doTestVars(a, 5, Integer.MAX_VALUE));
        assertFalse(BDDNativeProxy.doTestVars(a, 2, 2) || BDDNativeProxy.doTestVars(a, 40000, 5)
                || BDDNativeProxy.doTestVars(a, 0, 0));
        assertEquals(BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 2, 1),
                BDDManagerNativeProxy.doMakeSingleTuple(new int[] {0}, new int[] {2, 9}, new int[] {1, 7}));
        assertEquals(one, BDDNativeProxy.doAddTuple(a, new int[0], new int[0], new int[0]));
    }
}
