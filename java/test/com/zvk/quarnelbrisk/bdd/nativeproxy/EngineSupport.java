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
