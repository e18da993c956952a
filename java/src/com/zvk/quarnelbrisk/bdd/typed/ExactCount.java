package com.zvk.quarnelbrisk.bdd.typed;

import com.zvk.quarnelbrisk.bdd.nativeproxy.NativeLoader;

/**
 * The native behind {@link TupleSet#count}: the exact number of tuples of a diagram under a layout.
 * Its memo lives for one call, so a node counted before under another layout never answers for
 * this one, and the count never wraps.
 */
final class ExactCount {
    static {
        NativeLoader.load();
    }

    private ExactCount() {}

    /**
     * The number of tuples of {@code node} under the layout, as the big-endian magnitude of a
     * BigInteger (empty for 0). Raises NativeBDDException with "Assert failed: Invalid node handle",
     * "Assert failed: Invalid tuple layout", or "Assert failed: BDDNativeImpl.getNumOfTuples" for a
     * diagram that tests a variable outside the layout's fields.
     */
    static native byte[] doGetExactNumOfTuples(int node, int[] fieldFirstVar, int[] fieldWidth);
}
