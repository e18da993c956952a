package com.zvk.quarnelbrisk.bdd.nativeproxy;

import com.zvk.quarnelbrisk.ui.ThreadCallback;

/**
 * Natives that act on the engine as a whole, beyond those of {@link BDDManagerNativeProxy}: watching
 * the operations of the engine thread, with progress reports and cancellation from any thread; when
 * the store collects, freeing all that is dead at once, and figures a program can check.
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

    /**
     * Switches the store to collecting when its free records run out, until the next
     * {@link BDDManagerNativeProxy#doInit}; for every caller of the store, raw natives included.
     *
     * <p>A store started by {@code doInit} collects every {@code garbageCollectRate} + 1 node
     * creations, and a node freed there keeps its children until make-node reuses its record, so a
     * dead diagram is freed a level per collection. Each collection ends every cached result that
     * names a node it frees, so collecting often makes operations compute again what they knew.
     * Under this policy the store instead carves records as it needs them until it holds
     * {@code max(minRecords, recordsPerLiveNode x live nodes)}; when those run out it collects,
     * carrying out the oldest releases first, and every node freed gives its children back at once,
     * and theirs, down to the nodes still held. The collection stops once a sixteenth of the records
     * are free, so that what was given back last, which running operations are most likely to ask
     * for again, stays cached meanwhile. Only when it has carried out every release and freed
     * nothing does the store carve again, with the bound then recomputed from the live nodes.
     *
     * <p>What it guarantees: the records carved stay within
     * {@code max(minRecords, recordsPerLiveNode x the nodes that references reach)} and one block
     * of 1000, and no node that a reference reaches is ever freed. {@code doCollectGarbage} then
     * carries out every queued release, freeing whole diagrams.
     *
     * @param minRecords records the store may carve before it first collects, 0 or more
     * @param recordsPerLiveNode the bound's factor on the live nodes, 1 or more
     * @throws NativeBDDException "Assert failed: Invalid collection policy" for a bound below 0 or a
     *     factor below 1
     */
    public static native void doSetCollectionPolicy(int minRecords, int recordsPerLiveNode);

    /**
     * Frees everything that no reference reaches, now, whatever the store's collections: the queued
     * releases, then the children that freed records still hold, and theirs, down to the nodes still
     * held. Afterwards {@code doGetInfo}'s "Alive nodes" is exactly the number of inner nodes
     * reachable from the references held, apart from nodes whose count saturated at 2^14 - 1, which
     * are never freed.
     */
    public static native void doDrain();

    /** Index in {@link #doGetStats}: inner nodes alive (in the unique table). */
    public static final int STAT_LIVE_NODES = 0;
    /** Index in {@link #doGetStats}: node records carved from memory so far (never given back). */
    public static final int STAT_RECORDS = 1;
    /** Index in {@link #doGetStats}: records free for new nodes. */
    public static final int STAT_FREE_RECORDS = 2;
    /** Index in {@link #doGetStats}: bytes of the records carved. */
    public static final int STAT_RECORD_BYTES = 3;
    /** Index in {@link #doGetStats}: buckets of the unique table. */
    public static final int STAT_BUCKETS = 4;
    /** Index in {@link #doGetStats}: bytes of the unique table. */
    public static final int STAT_BUCKET_BYTES = 5;
    /** Index in {@link #doGetStats}: slots of the operation cache, all of its tables. */
    public static final int STAT_CACHE_SLOTS = 6;
    /** Index in {@link #doGetStats}: slots of the operation cache that hold an entry. */
    public static final int STAT_CACHE_OCCUPIED = 7;
    /** Index in {@link #doGetStats}: bytes of the operation cache, all of its tables. */
    public static final int STAT_CACHE_BYTES = 8;
    /** Index in {@link #doGetStats}: collections that carried out releases, since start-up. */
    public static final int STAT_COLLECTIONS = 9;
    /** Index in {@link #doGetStats}: nodes created since start-up. */
    public static final int STAT_NODES_CREATED = 10;
    /** Index in {@link #doGetStats}: releases queued and not carried out yet. */
    public static final int STAT_PENDING_RELEASES = 11;
    /**
     * Index in {@link #doGetStats}: the records the store may carve before it collects, under the
     * policy of {@link #doSetCollectionPolicy}; 0 without it.
     */
    public static final int STAT_RECORD_BUDGET = 12;

    /**
     * Figures of the store in real units (the statistics report of {@code doGetInfo} keeps its
     * nominal sizes), indexed by the {@code STAT_} constants of this class. Later versions may append
     * figures; the indexes stay.
     *
     * @return the figures, one per index
     */
    public static native long[] doGetStats();
}
