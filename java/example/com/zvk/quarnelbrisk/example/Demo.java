package com.zvk.quarnelbrisk.example;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;

/** Starts the engine, builds a few tuple sets, gives them back and prints the statistics. */
public final class Demo {
    private Demo() {}

    public static void main(String[] args) {
        BDDManagerNativeProxy.doInit(1 << 22, 1 << 20, 1000, true);
        report("after start-up");
        int[] firstVars = {0, 8, 16};
        int[] widths = {8, 8, 8};
        int[] handles = new int[256];
        for (int i = 0; i < handles.length; i++) {
            handles[i] = BDDManagerNativeProxy.doMakeSingleTuple(firstVars, widths, new int[] {i, 255 - i, i ^ 0x55});
        }
        int equal = BDDManagerNativeProxy.doMakeEquals(3, 11);
        report("after 256 single tuples and one equality");
        for (int h : handles) {
            BDDNativeProxy.doDecRefCount(h);
        }
        BDDNativeProxy.doDecRefCount(equal);
        BDDManagerNativeProxy.doCollectGarbage();
        report("after giving the roots back and one collection");
    }

    private static void report(String when) {
        System.out.println("-- " + when + " (" + BDDManagerNativeProxy.doGetMemoryState() + " bytes)");
        for (String line : BDDManagerNativeProxy.doGetInfo()) {
            System.out.println("   " + line);
        }
    }
}
