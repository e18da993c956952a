package com.zvk.quarnelbrisk.bdd.nativeproxy;

/**
 * Natives over any variables, beyond the natives of {@link BDDManagerNativeProxy} and
 * {@link BDDNativeProxy}: if-then-else, quantification and the relational product over a set of
 * variables, replacement of variables by any one-to-one map, tuples over fields whose bits lie on any
 * variables, and builders of common relations. They run behind the same call frame, with the same
 * checks and messages: a refused call raises {@link NativeBDDException} with a message that begins
 * "Assert failed: ", changes nothing, and one thread at a time may call the engine. Arguments are
 * borrowed; every handle returned carries one reference that the caller gives back with
 * {@link BDDNativeProxy#doDecRefCount}.
 *
 * <p><b>Variable sets and maps.</b> A set of variables is the diagram of its cube
 * ({@link #doMakeCube}); the engine's operation cache knows it by that node, so keep the cube while
 * it is in use and its results stay cached. A variable map is registered once ({@link #doRegisterMap})
 * and known by the id it gets, which no other map of the store ever gets.
 *
 * <p><b>Layouts.</b> A layout is two arrays: {@code fieldVars}, each field's variables (most
 * significant bit first) one field after the other, and {@code fieldWidths}, each field's number of
 * bits (0 to 31). A field's variables may be any, in any order; no variable may serve two fields
 * ("Assert failed: Invalid tuple layout"). Variables of no field are left free by the constructors.
 * Tuples are listed in the order of the variables: of two tuples, the one whose bit at the lowest
 * variable where they differ is 0 comes first; fields on consecutive runs in increasing order thus
 * list lexicographically, field by field. A diagram that tests a variable of no field is refused by
 * counting ("Assert failed: BDDNativeImpl.getNumOfTuples") and listing ("Assert failed:
 * BDDNativeImpl.getTuples").
 *
 * <p><b>Refusals.</b> "Invalid node handle" for a handle that is 0, out of range or freed; "Invalid
 * variable list" for a list of variables that repeats one or leaves 0..32765, or two lists that do not
 * pair up; "Invalid variable set" for a diagram given as a variable set that is not a cube; "Invalid
 * variable map" for a map that is not one-to-one or an id that names no map; "Tuple value out of
 * range" for a value that does not fit its field.
 */
public final class BDDFieldNativeProxy {
    static {
        NativeLoader.load();
    }

    private BDDFieldNativeProxy() {}

    /**
     * A set of variables as the diagram of its cube: every assignment in which all of them are 1.
     *
     * @param vars the variables, in any order, none twice, each 0 to 32765
     * @return the cube; the full set for no variable
     */
    public static native int doMakeCube(int[] vars);

    /**
     * The set with the variables of a cube quantified away (existential quantification), in one pass.
     *
     * @param node a set
     * @param cube a cube, as {@link #doMakeCube} makes it
     * @return the projection
     */
    public static native int doExistsSet(int node, int cube);

    /**
     * The relational product: {@code a AND b} with the variables of a cube quantified away, in one
     * pass, without building {@code a AND b}.
     *
     * @param a a set
     * @param b another set
     * @param cube a cube, as {@link #doMakeCube} makes it
     * @return the product
     */
    public static native int doRelprodSet(int a, int b, int cube);

    /**
     * If-then-else: {@code (f AND g) OR (NOT f AND h)}, in one pass.
     *
     * @param f the condition
     * @param g the set where {@code f} holds
     * @param h the set where it does not
     * @return the combination
     */
    public static native int doIte(int f, int g, int h);

    /**
     * Registers a one-to-one map of variables for {@link #doReplace}.
     *
     * @param from the variables to replace, none twice
     * @param to their targets, as many, none twice
     * @return the map's id, which no other map of this store ever gets
     */
    public static native int doRegisterMap(int[] from, int[] to);

    /**
     * The set with every variable of a map replaced by its target, all at once: the canonical
     * diagram of the substituted function, whatever the map does to the order of the variables
     * (swaps, transpositions, a field moved past another).
     *
     * @param node a set
     * @param mapId an id that {@link #doRegisterMap} returned since the engine was started
     * @return the renamed set
     */
    public static native int doReplace(int node, int mapId);

    /**
     * The variables that a diagram tests.
     *
     * @param node a set
     * @return the variables, in increasing order
     */
    public static native int[] doSupport(int node);

    /**
     * The set of one tuple.
     *
     * @param fieldVars each field's variables, most significant bit first, one field after the other
     * @param fieldWidths each field's number of bits
     * @param values one value per field, each fitting its field
     * @return the set
     */
    public static native int doMakeTuple(int[] fieldVars, int[] fieldWidths, int[] values);

    /**
     * A set with tuples added, all in one pass: the new tuples are sorted, built into one diagram
     * and united with the set.
     *
     * @param node a set
     * @param fieldVars each field's variables, most significant bit first, one field after the other
     * @param fieldWidths each field's number of bits
     * @param values the tuples one after the other, one value per field each
     * @return the set with the tuples
     */
    public static native int doAddTuples(int node, int[] fieldVars, int[] fieldWidths, int[] values);

    /**
     * The exact number of tuples of a diagram under a layout. Its memo lives for one call, so a node
     * counted before under another layout never answers for this one, and the count never wraps.
     * Variables of no field are not counted.
     *
     * @param node a set
     * @param fieldVars each field's variables, most significant bit first, one field after the other
     * @param fieldWidths each field's number of bits
     * @return the count as the big-endian magnitude of a {@link java.math.BigInteger} (empty for 0)
     */
    public static native byte[] doGetExactNumOfTuples(int node, int[] fieldVars, int[] fieldWidths);

    /**
     * Lists some tuples of a set, in the order of the layout's variables (see above), from a given
     * tuple on: a page of a listing that can go on where it stopped.
     *
     * @param node a set
     * @param fieldVars each field's variables, most significant bit first, one field after the other
     * @param fieldWidths each field's number of bits
     * @param bounds an exclusive upper bound per field, or null for none
     * @param start the tuple to begin at, or null to begin at the first
     * @param after true to begin after {@code start} instead of at it
     * @param maxTuples the most tuples to list
     * @return the number of tuples listed, then their values one tuple after the other
     */
    public static native int[] doListTuples(int node, int[] fieldVars, int[] fieldWidths, int[] bounds, int[] start,
            boolean after, int maxTuples);

    /**
     * The values of a field within a range.
     *
     * @param vars the field's variables, most significant bit first
     * @param lo the least value, inclusive
     * @param hi the greatest value, inclusive
     * @return every value {@code v} of the field with {@code lo <= v <= hi}; the empty set when
     *     there is none
     */
    public static native int doMakeRange(int[] vars, long lo, long hi);

    /**
     * Two fields equal.
     *
     * @param a one field's variables, most significant bit first
     * @param b the other's, as many, none shared
     * @return the set where both hold the same value
     */
    public static native int doMakeEqual(int[] a, int[] b);

    /**
     * One field the other plus a constant, without wrapping around.
     *
     * @param from one field's variables, most significant bit first
     * @param to the other's, as many, none shared
     * @param k the constant, which may be negative
     * @return the set where {@code to = from + k}
     */
    public static native int doMakePlus(int[] from, int[] to, long k);

    /**
     * Diagrams described in the format of the diagram stream ({@link BDDManagerNativeProxy#doSerialize}),
     * without writing a stream: the node stamps and the operation cache stay as they are.
     *
     * @param roots the diagrams
     * @return the ints the stream would hold
     */
    public static native int[] doDescribe(int[] roots);
}
