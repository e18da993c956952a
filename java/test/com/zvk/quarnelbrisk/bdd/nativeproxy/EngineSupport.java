package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import org.junit.jupiter.api.function.Executable;

/** Helpers shared by the tests that drive the engine through its natives. */
public final class EngineSupport {
    private EngineSupport() {}

    /** Throwaway nodes of the drain sit on variables from here on, which the tests' diagrams leave alone. */
    private static final int THROWAWAY_VAR = 128;

    /** A fresh engine with large bounds, collections every 1000 creations, and garbage collection on. */
    public static void freshEngine() {
        BDDManagerNativeProxy.doInit(1 << 22, 1 << 20, 1000, true);
    }

    /** The "Alive nodes" figure of the statistics report. */
    public static int aliveNodes() {
        return figure(0);
    }

    /** The "Total nodes allocated" figure of the statistics report. */
    public static int totalNodesAllocated() {
        return figure(1);
    }

    public static int aliveAfterCollection() {
        BDDManagerNativeProxy.doCollectGarbage();
        return aliveNodes();
    }

    /**
     * Alive nodes once every released diagram is freed down to its last node. A freed record keeps
     * its references on its children until make-node reuses it, so each round builds as many
     * throwaway one-variable nodes as there are free records (no new record is needed, so this works
     * at the end of the record range too), gives them back and collects, until a round frees nothing.
     */
    public static int aliveWhenDrained() {
        int previous = Integer.MAX_VALUE;
        int current = aliveAfterCollection();
        while (current < previous) {
            previous = current;
            int free = totalNodesAllocated() - 2 - current;
            if (free > 2 * (32766 - THROWAWAY_VAR)) {
                throw new AssertionError("too many free records to drain: " + free);
            }
            int[] held = new int[free];
            for (int i = 0; i < free; i++) {
                held[i] = BDDManagerNativeProxy.doMakeSingleTupleUnary(THROWAWAY_VAR + (i >> 1), 1, i & 1);
            }
            release(held);
            current = aliveAfterCollection();
        }
        return current;
    }

    public static void release(int... handles) {
        for (int h : handles) {
            BDDNativeProxy.doDecRefCount(h);
        }
    }

    /** Runs each call and checks that it raises NativeBDDException with "Assert failed: " and this message. */
    public static void refused(String message, Executable... calls) {
        for (Executable call : calls) {
            assertEquals("Assert failed: " + message, assertThrows(NativeBDDException.class, call).getMessage());
        }
    }

    private static int figure(int line) {
        String text = BDDManagerNativeProxy.doGetInfo()[line];
        return Integer.parseInt(text.substring(text.indexOf(": ") + 2));
    }
}
