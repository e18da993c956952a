package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import org.junit.jupiter.api.function.Executable;

/** Helpers shared by the tests that drive the engine through its natives. */
public final class EngineSupport {
    private EngineSupport() {}

    /** Starts a fresh engine; earlier handles become invalid. */
    public static void freshEngine(int maxNodeCache, int maxOpCache, int gcRate, boolean gc) {
        BDDManagerNativeProxy.doInit(maxNodeCache, maxOpCache, gcRate, gc);
    }

    /** A fresh engine with large bounds, collections every 1000 creations, and garbage collection on. */
    public static void freshEngine() {
        freshEngine(1 << 22, 1 << 20, 1000, true);
    }

    /** The "Alive nodes" figure of the statistics report. */
    public static int aliveNodes() {
        return figure(BDDManagerNativeProxy.doGetInfo()[0], "Alive nodes: ");
    }

    /** The "Total nodes allocated" figure of the statistics report. */
    public static int totalNodesAllocated() {
        return figure(BDDManagerNativeProxy.doGetInfo()[1], "Total nodes allocated: ");
    }

    /** Alive nodes once every queued release is carried out. */
    public static int aliveAfterCollection() {
        BDDManagerNativeProxy.doCollectGarbage();
        return aliveNodes();
    }

    /**
     * Alive nodes once every released diagram is freed down to its last node.
     *
     * <p>A freed record keeps its references on its children until make-node reuses it, so one
     * collection frees only the roots of what was given back. This drains the store: it builds and
     * holds throwaway one-variable nodes, more each round than there are free records, so that every
     * freed record is reused and its children's release queued, and collects after each round, until
     * the count of nodes other than the throwaways stops falling. The throwaways have terminal
     * children only, so giving them back frees them entirely.
     */
    public static int aliveWhenDrained() {
        int[] held = new int[2 * 32766];
        int count = 0;
        int previous = Integer.MAX_VALUE;
        int current = aliveAfterCollection();
        while (current < previous) {
            previous = current;
            int batch = totalNodesAllocated() - 2 - aliveNodes() + 1;
            for (int i = 0; i < batch; i++) {
                if (count == held.length) {
                    throw new AssertionError("store too large to drain with one-variable nodes");
                }
                held[count] = BDDManagerNativeProxy.doMakeSingleTupleUnary(count >> 1, 1, count & 1);
                count++;
            }
            current = aliveAfterCollection() - distinctHeld(held, count);
        }
        for (int i = 0; i < count; i++) {
            BDDNativeProxy.doDecRefCount(held[i]);
        }
        return aliveAfterCollection();
    }

    private static int distinctHeld(int[] held, int count) {
        return (int) java.util.Arrays.stream(held, 0, count).distinct().count();
    }

    /** Gives back the reference of every handle. */
    public static void release(int... handles) {
        for (int h : handles) {
            BDDNativeProxy.doDecRefCount(h);
        }
    }

    /** Runs {@code call} and checks that it raises NativeBDDException with exactly this message. */
    public static void assertNativeError(String message, Executable call) {
        NativeBDDException e = assertThrows(NativeBDDException.class, call);
        assertEquals(message, e.getMessage());
    }

    private static int figure(String line, String prefix) {
        if (!line.startsWith(prefix)) {
            throw new AssertionError("unexpected report line: " + line);
        }
        return Integer.parseInt(line.substring(prefix.length()));
    }
}
