package com.zvk.quarnelbrisk.bdd.typed;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDFieldNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport;
import java.math.BigInteger;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * Each way the raw natives give a silent wrong answer, built through them first, then the same
 * question asked through the layer, on the same nodes where the trap can reach them. The layer
 * meets none of these by construction (it quantifies over variable sets and renames by registered
 * maps, both known to the cache by identities of their own, and counts with a memo of one call);
 * the raw traps stay real for programs that call the natives themselves.
 */
class TrapsTest {
    /** Fields a, b, c of 4 bits at variables 0, 4, 8, and the set {(1, 2, 3), (5, 6, 7)}. */
    private Engine engine;
    private Field a;
    private Field b;
    private Field c;
    private Layout abc;

    private TupleSet setup() {
        engine = Engine.start();
        a = engine.field("a", 4);
        b = engine.field("b", 4);
        c = engine.field("c", 4);
        abc = engine.layout(a, b, c);
        return engine.of(abc, List.of(new int[] {1, 2, 3}, new int[] {5, 6, 7}));
    }

    @Test
    void entriesKnownByTooLittleNeverAnswerForTheLayer() {
        try (TupleSet s = setup(); TupleSet t = engine.tuple(engine.layout(b, c), 2, 3)) {
            int h = s.handle();
            // Raw: a run of variables known by its first variable alone, a rename by first variable and
            // offset alone: quantifying a then a and b from variable 0 answers the second from the first.
            int[] raw = {BDDNativeProxy.doExists(h, 0, 4), BDDNativeProxy.doExists(h, 0, 8),
                BDDNativeProxy.doRelprod(h, t.handle(), 4, 4), BDDNativeProxy.doRelprod(h, t.handle(), 4, 8),
                BDDNativeProxy.doRename(h, 8, 4, 8), BDDNativeProxy.doRename(h, 8, 8, 8)};
            assertTrue(raw[0] == raw[1] && raw[2] == raw[3] && raw[4] == raw[5], "the traps");
            Field d = engine.field("d", 4);
            try (TupleSet justC = s.project(c); TupleSet joined = s.join(t, b, c); TupleSet renamed = s.rename(a, d)) {
                assertEquals("[(c=3), (c=7)] [(a=1)] [(d=1, b=2, c=3), (d=5, b=6, c=7)]",
                        justC.tuples() + " " + joined.tuples() + " " + renamed.tuples());
            }
            EngineSupport.release(raw);
        }
        // Raw: the count of a node known by the node alone. The same diagram as a set over (c) and
        // over (c, d), where d is free, counts 1 both times.
        try (TupleSet s = setup(); TupleSet onlyC = engine.tuple(engine.layout(c), 3);
                TupleSet withD = onlyC.join(engine.all(engine.layout(engine.field("d", 4))))) {
            assertEquals(onlyC.handle(), withD.handle());
            assertEquals(1, BDDNativeProxy.doGetNumOfTuples(onlyC.handle(), new int[] {8}, new int[] {4}, new int[] {16}));
            assertEquals(1, BDDNativeProxy.doGetNumOfTuples(withD.handle(), new int[] {8, 12}, new int[] {4, 4},
                    new int[] {16, 16}), "the trap");
            // Counted through the layer in turn; the memo of one call does not leak into the next either.
            assertEquals(List.of(BigInteger.ONE, BigInteger.valueOf(16), BigInteger.ONE, BigInteger.TWO),
                    List.of(onlyC.count(), withD.count(), onlyC.count(), s.count()));
            // The native itself refuses a diagram that tests a variable in a gap of the layout, here b's.
            EngineSupport.refused("BDDNativeImpl.getNumOfTuples",
                    () -> BDDFieldNativeProxy.doGetExactNumOfTuples(s.handle(), new int[] {0, 1, 2, 3, 8, 9, 10, 11},
                            new int[] {4, 4}));
        }
    }

    @Test
    void aSetKeptAcrossARestartRefusesUseInsteadOfNamingANodeOfTheNewStore() {
        TupleSet old = setup();
        int handle = old.handle();
        // Raw: after a restart the old handle names whatever the new store put there. The old set
        // refuses use (RefusalsTest), and its close releases nothing into the new store.
        TupleSet fresh = setup();
        assertEquals(handle, fresh.handle(), "the trap: the new store reuses the old handle");
        assertThrows(IllegalStateException.class, () -> old.union(fresh));
        old.close();
        assertEquals(BigInteger.TWO, fresh.count());
        fresh.close();
        fresh.engine().drain();
        assertEquals(0, fresh.engine().stats().liveNodes());
    }
}
