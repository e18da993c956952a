package com.zvk.quarnelbrisk.bdd.nativeproxy;

/**
 * Natives that act on the engine as a whole: start-up, the two constant sets, tuple constructors,
 * garbage collection, statistics and the diagram stream.
 *
 * <p>A diagram is an int handle naming its root node. Every handle these methods return carries
 * one reference that the caller owns and gives back with {@link BDDNativeProxy#doDecRefCount},
 * except {@link #doGetZero} and {@link #doGetOne}, which carry none. One thread at a time may call
 * the engine; a second one is refused with {@link NativeBDDException}.
 */
public final class BDDManagerNativeProxy {
    static {
        System.loadLibrary("engine-native");
    }

    private BDDManagerNativeProxy() {}

    /**
     * Starts the engine (afresh, if it ran before: every earlier handle becomes invalid).
     *
     * @param maxNodeCacheSize bound on the growth of the unique table
     * @param maxOpCacheSize bound on the growth of the operation cache
     * @param garbageCollectRate node creations between two collections; above 0 it also makes
     *     {@link BDDNativeProxy#doDecRefCount} safe from any thread
     * @param enableGC when false, nodes are never freed and releases are ignored
     */
    public static native void doInit(int maxNodeCacheSize, int maxOpCacheSize, int garbageCollectRate, boolean enableGC);

    /** Carries out every queued release. */
    public static native void doCollectGarbage();

    /** Bytes used by the unique table, the operation cache and the node records. */
    public static native int doGetMemoryState();

    /** Five lines: alive nodes, nodes allocated, and the sizes of the two tables and the records. */
    public static native String[] doGetInfo();

    /** The empty set. */
    public static native int doGetZero();

    /** The set of all assignments. */
    public static native int doGetOne();

    /** Every assignment in which variables x and y are equal. */
    public static native int doMakeEquals(int x, int y);

    /** The one-field tuple {@code value} over {@code width} variables from {@code firstVar}. */
    public static native int doMakeSingleTupleUnary(int firstVar, int width, int value);

    /** The single tuple whose field i holds fieldValue[i] in fieldWidth[i] bits from fieldFirstVar[i]. */
    public static native int doMakeSingleTuple(int[] fieldFirstVar, int[] fieldWidth, int[] fieldValue);

    /** Writes the diagrams {@code roots} to {@code stream} (an ObjectOutputStream) as one int array. */
    public static native void doSerialize(Object stream, int[] roots, Object callback, double progressShare,
            String progressMessage);

    /**
     * Reads one diagram stream from {@code stream} (an ObjectInputStream) and returns its roots, or
     * null when the read raised an exception (still pending) or the callback cancelled.
     */
    public static native int[] doDeserialize(Object stream, Object callback, double progressShare,
            String progressMessage);
}
