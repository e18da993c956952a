package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static com.zvk.quarnelbrisk.bdd.nativeproxy.DeepChains.MAX_DEPTH;
import static com.zvk.quarnelbrisk.bdd.nativeproxy.EngineSupport.freshEngine;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.EnumMap;
import java.util.Map;
import org.junit.jupiter.api.Test;

/**
 * Diagrams over every usable variable. On a thread with little stack each operation either answers
 * right or raises "Stack exhausted", and the engine goes on; on a thread with a large stack every
 * operation answers right.
 */
class DeepDiagramTest {
    private static final String EXHAUSTED = "Assert failed: Stack exhausted";

    /** Runs every operation at full depth; returns which raised "Stack exhausted". */
    private static Map<DeepChains.Op, Boolean> exhaustedAtFullDepth() throws Exception {
        Map<DeepChains.Op, Boolean> exhausted = new EnumMap<>(DeepChains.Op.class);
        for (DeepChains.Op op : DeepChains.Op.values()) {
            try {
                DeepChains.check(op, MAX_DEPTH);
                exhausted.put(op, false);
            } catch (NativeBDDException e) {
                assertEquals(EXHAUSTED, e.getMessage(), op.toString());
                exhausted.put(op, true);
            }
            // Whatever happened, a shallow call answers and nothing of the deep one stays held.
            DeepChains.check(op, 100);
        }
        return exhausted;
    }

    @Test
    void onJavasDefaultStackEachOperationAnswersOrExhaustsCleanly() throws Exception {
        freshEngine();
        Map<DeepChains.Op, Boolean> exhausted = exhaustedAtFullDepth();
        System.out.println("Full depth on the default stack, exhausted: " + exhausted);
        // The walks keep their stack on the heap: no diagram is too deep for them.
        assertEquals(false, exhausted.get(DeepChains.Op.SERIALIZE));
    }

    @Test
    void aSmallStackExhaustsAndALargeOneAnswersEverything() throws Exception {
        DeepChains.onThread(256 << 10, () -> {
            freshEngine();
            Map<DeepChains.Op, Boolean> exhausted = exhaustedAtFullDepth();
            assertTrue(exhausted.get(DeepChains.Op.COMPLEMENT) && exhausted.get(DeepChains.Op.UNITE)
                    && exhausted.get(DeepChains.Op.RENAME), exhausted.toString());
        });
        DeepChains.onThread(512L << 20, () -> {
            freshEngine();
            assertEquals(Map.of(), Map.copyOf(filterTrue(exhaustedAtFullDepth())), "a 512 MB stack is enough for all");
        });
    }

    private static Map<DeepChains.Op, Boolean> filterTrue(Map<DeepChains.Op, Boolean> m) {
        m.values().removeIf(b -> !b);
        return m;
    }
}
