package com.zvk.quarnelbrisk.bdd.nativeproxy;

/**
 * Natives that work over fields, beyond the natives of {@link BDDManagerNativeProxy} and
 * {@link BDDNativeProxy}: the typed layer's way into the engine where those two have no call for it.
 * They run behind the same call frame, with the same checks and messages: a refused call raises
 * {@link NativeBDDException}, and one thread at a time may call the engine.
 */
public final class BDDFieldNativeProxy {
    static {
        NativeLoader.load();
    }

    private BDDFieldNativeProxy() {}

    /**
     * The exact number of tuples of a diagram under a layout. Its memo lives for one call, so a node
     * counted before under another layout never answers for this one, and the count never wraps.
     *
     * @param node a live handle, borrowed
     * @param fieldFirstVar first variable of each field
     * @param fieldWidth bits of each field, at least as many entries as {@code fieldFirstVar}
     * @return the count as the big-endian magnitude of a {@link java.math.BigInteger} (empty for 0)
     * @throws NativeBDDException with "Assert failed: Invalid node handle", "Assert failed: Invalid
     *     tuple layout", or "Assert failed: BDDNativeImpl.getNumOfTuples" for a diagram that tests a
     *     variable outside the layout's fields
     */
    public static native byte[] doGetExactNumOfTuples(int node, int[] fieldFirstVar, int[] fieldWidth);
}
