package com.zvk.quarnelbrisk.benchmicro;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;

/** Java ends of the JNI call benchmarks. */
public final class BenchCalls {
    private BenchCalls() {}

    /** A trivial static method: what a call from C++ into Java costs without a native behind it. */
    public static int plain() {
        return 1;
    }

    /** n calls of a trivial native from Java: the cost of the native frame alone, per call. */
    public static int getOneLoop(int n) {
        int sum = 0;
        for (int i = 0; i < n; i++) {
            sum += BDDManagerNativeProxy.doGetOne();
        }
        return sum;
    }

    /** n calls of a trivial Java static method, the baseline of {@link #getOneLoop}. */
    public static int plainLoop(int n) {
        int sum = 0;
        for (int i = 0; i < n; i++) {
            sum += plain() + (i & 1);
        }
        return sum;
    }
}
