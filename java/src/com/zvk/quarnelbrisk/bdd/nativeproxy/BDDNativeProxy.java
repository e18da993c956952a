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
        NativeLoader.load();
    }

    /** The monitor that guards the release queue; the engine takes it while it releases nodes. */
    public static Object syncObject = new Object();

    private BDDNativeProxy() {}

    /**
     * Takes one more reference to a diagram.
     *
     * @param node a live handle
     */
    public static native void doIncRefCount(int node);

    /**
     * Gives one reference back; the release is queued and carried out at the next collection. Callable
     * from any thread.
     *
     * @param node a handle whose reference the caller owns
     */
    public static native void doDecRefCount(int node);

    /**
     * The tuples in both sets.
     *
     * @param a a set
     * @param b another set
     * @return the intersection
     */
    public static native int doIntersect(int a, int b);

    /**
     * The tuples in either set.
     *
     * @param a a set
     * @param b another set
     * @return the union
     */
    public static native int doUnite(int a, int b);

    /**
     * Every assignment not in the set.
     *
     * @param a a set
     * @return the complement
     */
    public static native int doComplement(int a);

    /**
     * The set with one variable quantified away.
     *
     * @param node a set
     * @param var the variable, 0 to 32765
     * @return the projection
     */
    public static native int doExistsVar(int node, int var);

    /**
     * The set with a run of variables quantified away. The operation cache knows the run by its first
     * variable alone: pair a first variable with one length.
     *
     * @param node a set
     * @param firstVar the run's first variable
     * @param numVars the run's length
     * @return the projection
     */
    public static native int doExists(int node, int firstVar, int numVars);

    /**
     * Whether the diagram tests a variable of the run.
     *
     * @param node a set
     * @param firstVar the run's first variable
     * @param numVars the run's length
     * @return true when it does
     */
    public static native boolean doTestVars(int node, int firstVar, int numVars);

    /**
     * The set with the run of variables moved by an offset. The operation cache knows the run by its
     * first variable and the offset alone: pair them with one length.
     *
     * @param node a set
     * @param firstVar the run's first variable
     * @param numVars the run's length
     * @param offset added to each variable of the run
     * @return the moved set
     */
    public static native int doRename(int node, int firstVar, int numVars, int offset);

    /**
     * The run of variables quantified away from the intersection of two sets, in one pass. The
     * operation cache knows the run by its first variable alone: pair a first variable with one length.
     *
     * @param a a set
     * @param b another set
     * @param firstVar the run's first variable
     * @param numVars the run's length
     * @return the relational product
     */
    public static native int doRelprod(int a, int b, int firstVar, int numVars);

    /**
     * Inclusion.
     *
     * @param a a set
     * @param b another set
     * @return true when {@code a} contains every member of {@code b}
     */
    public static native boolean doSuperset(int a, int b);

    /**
     * The tuples under a layout, ascending, field 0 first.
     *
     * @param node a set
     * @param fieldFirstVar first variable of each field
     * @param fieldWidth bits of each field
     * @param fieldBound exclusive upper bound of each field's listed values
     * @param maxTuples most tuples to list; negative for all
     * @return a java.util.Vector of int arrays, one per tuple
     */
    public static native Object doGetNTuples(int node, int[] fieldFirstVar, int[] fieldWidth, int[] fieldBound,
            int maxTuples);

    /**
     * The number of tuples under a layout, modulo 2<sup>32</sup>. The count is memoised per node alone:
     * count a family of diagrams under one layout.
     *
     * @param node a set
     * @param fieldFirstVar first variable of each field
     * @param fieldWidth bits of each field
     * @param fieldBound accepted and not read
     * @return the count, wrapping at 2<sup>32</sup>
     */
    public static native int doGetNumOfTuples(int node, int[] fieldFirstVar, int[] fieldWidth, int[] fieldBound);

    /**
     * The size of a diagram.
     *
     * @param node a set
     * @return the inner nodes reachable from {@code node}
     */
    public static native int doGetNumOfNodes(int node);

    /**
     * The set with one tuple added.
     *
     * @param node a set
     * @param fieldFirstVar first variable of each field
     * @param fieldWidth bits of each field
     * @param fieldValue the value of each field
     * @return the new set
     */
    public static native int doAddTuple(int node, int[] fieldFirstVar, int[] fieldWidth, int[] fieldValue);
}
