package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveAfterCollection;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveNodes;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.aliveWhenDrained;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.assertNativeError;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.freshEngine;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.release;
import static org.junit.jupiter.api.Assertions.assertEquals;

import org.junit.jupiter.api.Test;

class ReferenceTest {
    private static final String INVALID = "Assert failed: Invalid node handle";

    @Test
    void releasesTakeEffectAtTheNextCollectionOneLevelAtATime() {
        freshEngine(1 << 20, 1 << 20, 1 << 20, true);
        int chain = BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 5, 21);
        assertEquals(5, aliveNodes());
        release(chain);
        assertEquals(5, aliveNodes(), "only queued");
        assertEquals(4, aliveAfterCollection(), "the root is freed; its child waits for the record's reuse");
        assertEquals(0, aliveWhenDrained());
    }

    @Test
    void extraReferencesKeepADiagramAlive() {
        freshEngine(1 << 20, 1 << 20, 1 << 20, true);
        int chain = BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 3, 5);
        BDDNativeProxy.doIncRefCount(chain);
        release(chain);
        assertEquals(3, aliveAfterCollection());
        assertEquals(chain, BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 3, 5), "still the canonical node");
        release(chain, chain);
        assertEquals(0, aliveWhenDrained());
    }

    @Test
    void aNegativeCountReachesJavaAndTheEngineGoesOn() {
        freshEngine(1 << 20, 1 << 20, 100, true);
        int a = BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 2, 1);
        int b = BDDManagerNativeProxy.doMakeSingleTupleUnary(4, 2, 2);
        release(a, a, b);
        assertNativeError("Assert failed: Negative refcount", BDDManagerNativeProxy::doCollectGarbage);
        // The failing entry is not carried out again; the one after it is.
        assertEquals(2, aliveAfterCollection());
        int c = BDDManagerNativeProxy.doMakeSingleTupleUnary(8, 2, 3);
        assertEquals(c, BDDManagerNativeProxy.doMakeSingleTupleUnary(8, 2, 3));
        assertEquals(4, aliveNodes());
    }

    @Test
    void badHandlesAreRefusedBeforeAnythingChanges() {
        freshEngine(1 << 20, 1 << 20, 100, true);
        int n = BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 1, 1);
        for (int bad : new int[] {0, -1, Integer.MIN_VALUE, 1001, Integer.MAX_VALUE}) {
            assertNativeError(INVALID, () -> BDDNativeProxy.doIncRefCount(bad));
            assertNativeError(INVALID, () -> BDDNativeProxy.doDecRefCount(bad));
        }
        int free = n - 1;  // the next record on the free list, never used
        assertNativeError(INVALID, () -> BDDNativeProxy.doIncRefCount(free));
        release(n);
        BDDManagerNativeProxy.doCollectGarbage();
        assertNativeError(INVALID, () -> BDDNativeProxy.doIncRefCount(n));
        assertEquals(0, aliveNodes());
        assertEquals(n, BDDManagerNativeProxy.doMakeSingleTupleUnary(0, 1, 1), "the freed record is reused");
    }
}
