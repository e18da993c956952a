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
        NativeLoader.load();
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

    /**
     * The engine's memory use; callable at any time, even from another thread.
     *
     * @return bytes used by the unique table, the operation cache and the node records
     */
    public static native int doGetMemoryState();

    /**
     * The statistics report.
     *
     * @return five lines: alive nodes, nodes allocated, and the sizes of the two tables and the records
     */
    public static native String[] doGetInfo();

    /**
     * The empty set.
     *
     * @return its handle, which carries no reference
     */
    public static native int doGetZero();

    /**
     * The set of all assignments.
     *
     * @return its handle, which carries no reference
     */
    public static native int doGetOne();

    /**
     * Every assignment in which two variables are equal.
     *
     * @param x a variable, 0 to 32765
     * @param y another variable, 0 to 32765
     * @return the set's handle
     */
    public static native int doMakeEquals(int x, int y);

    /**
     * The one-field tuple {@code value} over {@code width} variables from {@code firstVar}.
     *
     * @param firstVar the variable of the most significant bit
     * @param width bits, up to 31; 0 or less gives the set of all assignments
     * @param value the field's value
     * @return the set's handle
     */
    public static native int doMakeSingleTupleUnary(int firstVar, int width, int value);

    /**
     * The single tuple whose field i holds fieldValue[i] in fieldWidth[i] bits from fieldFirstVar[i].
     *
     * @param fieldFirstVar first variable of each field, ascending, fields not overlapping
     * @param fieldWidth bits of each field, 0 to 31
     * @param fieldValue the value of each field
     * @return the set's handle
     */
    public static native int doMakeSingleTuple(int[] fieldFirstVar, int[] fieldWidth, int[] fieldValue);

    /**
     * Writes the diagrams {@code roots} to {@code stream} as one int array; nothing when cancelled.
     *
     * @param stream a java.io.ObjectOutputStream
     * @param roots handles of the diagrams, in order
     * @param callback a com.zvk.quarnelbrisk.ui.ThreadCallback for progress and cancellation, or null
     * @param progressShare the reports' total is the operation's steps divided by this
     * @param progressMessage handed to every progress report
     */
    public static native void doSerialize(Object stream, int[] roots, Object callback, double progressShare,
            String progressMessage);

    /**
     * Reads one diagram stream and rebuilds its diagrams.
     *
     * @param stream a java.io.ObjectInputStream
     * @param callback a com.zvk.quarnelbrisk.ui.ThreadCallback for progress and cancellation, or null
     * @param progressShare the reports' total is the operation's steps divided by this
     * @param progressMessage handed to every progress report
     * @return the roots' handles, each carrying a reference, or null when the read raised an
     *     exception (which is then thrown) or the callback cancelled
     */
    public static native int[] doDeserialize(Object stream, Object callback, double progressShare,
            String progressMessage);
}
