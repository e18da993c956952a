package com.zvk.quarnelbrisk.bdd.nativeproxy;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import org.junit.jupiter.api.function.Executable;

/** Helpers shared by the tests that drive the engine through its natives. */
public final class EngineSupport {
    private EngineSupport() {}

    /** A fresh engine with large bounds, collections every 1000 creations, and garbage collection on. */
    public static void freshEngine() {
        BDDManagerNativeProxy.doInit(1 << 22, 1 << 20, 1000, true);
    }

    /** The "Total nodes allocated" figure of the statistics report. */
    public static int totalNodesAllocated() {
        return figure(1);
    }

    /** Alive nodes once every released diagram is freed down to its last node. */
    public static int aliveWhenDrained() {
        BDDEngineNativeProxy.doDrain();
        return figure(0);
    }

    /** The set of these tuples, added one by one to the empty set with doAddTuple; one reference. */
    public static int set(int[] first, int[] width, int[]... tuples) {
        int s = BDDManagerNativeProxy.doGetZero();
        for (int[] t : tuples) {
            int next = BDDNativeProxy.doAddTuple(s, first, width, t);
            release(s);
            s = next;
        }
        return s;
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
