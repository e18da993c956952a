package com.zvk.quarnelbrisk.bdd.nativeproxy;

import com.zvk.quarnelbrisk.ui.ThreadCallback;

/**
 * Natives that act on the engine as a whole, beyond those of {@link BDDManagerNativeProxy}: watching
 * the operations of the engine thread, with progress reports and cancellation from any thread.
 *
 * <p>While a watch is on, every operation reports the nodes it has made so far to the watch's
 * callback, every so many creations ({@code informProgress(nodesMade, -1, null)}, after
 * {@code checkCancelled()}, which cancels when it returns true). Any thread may cancel the watched
 * operation in progress with {@link #doCancel}; it stops at its next recursion level. A cancelled
 * operation raises {@link NativeBDDException} with "Assert failed: Cancelled" and leaves nothing
 * behind: every reference it took is given back, no mark stays, and every diagram the caller holds
 * is unchanged. A cancellation holds until the watch ends: later operations of the same watch stop at
 * once. Without a watch, {@link #doCancel} does nothing.
 */
public final class BDDEngineNativeProxy {
    static {
        NativeLoader.load();
    }

    private BDDEngineNativeProxy() {}

    /**
     * Begins a watch (ending the one before, if any), with no cancellation pending.
     *
     * @param callback told of the progress, and may cancel; null for a watch that only cancels
     * @param nodesBetweenReports node creations between two reports, 1 or more (with a callback)
     * @throws NativeBDDException "Assert failed: Invalid callback" for an object that is not a
     *     {@link ThreadCallback}
     */
    public static native void doWatch(Object callback, int nodesBetweenReports);

    /** Ends the watch, and with it any cancellation. */
    public static native void doUnwatch();

    /**
     * Cancels the watched operation in progress, and the later ones of the watch. May be called from
     * any thread at any time; does nothing while no watch is on.
     */
    public static native void doCancel();
}
