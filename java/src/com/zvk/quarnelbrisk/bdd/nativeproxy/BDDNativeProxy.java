package com.zvk.quarnelbrisk.bdd.nativeproxy;

/**
 * Natives that act on diagrams the Java side holds. Arguments are borrowed; every handle returned
 * carries one reference that the caller gives back with {@link #doDecRefCount}.
 *
 * <p>{@link #doDecRefCount} only queues the release; it is the one native that may be called from
 * any thread at any time, provided the engine was started with a garbage-collection rate above 0.
 */
public final class BDDNativeProxy {
    static {
        System.loadLibrary("engine-native");
    }

    /** The monitor that guards the release queue. */
    public static Object syncObject = new Object();

    private BDDNativeProxy() {}

    public static native void doIncRefCount(int node);

    public static native void doDecRefCount(int node);

    public static native int doIntersect(int a, int b);

    public static native int doUnite(int a, int b);

    public static native int doComplement(int a);

    public static native int doExistsVar(int node, int var);

    public static native int doExists(int node, int firstVar, int numVars);

    public static native boolean doTestVars(int node, int firstVar, int numVars);

    public static native int doRename(int node, int firstVar, int numVars, int offset);

    public static native int doRelprod(int a, int b, int firstVar, int numVars);

    /** True when {@code a} contains every member of {@code b}. */
    public static native boolean doSuperset(int a, int b);

    /** Up to maxTuples tuples (all when negative) with field values below fieldBound, ascending. */
    public static native Object doGetNTuples(int node, int[] fieldFirstVar, int[] fieldWidth, int[] fieldBound,
            int maxTuples);

    public static native int doGetNumOfTuples(int node, int[] fieldFirstVar, int[] fieldWidth, int[] fieldBound);

    /** Inner nodes reachable from {@code node}. */
    public static native int doGetNumOfNodes(int node);

    public static native int doAddTuple(int node, int[] fieldFirstVar, int[] fieldWidth, int[] fieldValue);
}
