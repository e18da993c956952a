package com.zvk.quarnelbrisk.bdd.typed;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.util.Collection;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * The engine of this process, as started by {@link #start(Settings)}: it places fields, makes tuple
 * sets, collects garbage, and saves and loads groups of sets.
 *
 * <p>There is one store per process. Each start begins a new generation and throws the previous
 * store away: every set, field and layout made before then refuses use afterwards with an
 * {@link IllegalStateException}, instead of naming some node of the new store. Close the sets of a
 * generation before starting the next one if their memory matters; a set closed afterwards releases
 * nothing.
 */
public final class Engine {
    /** Guards generation changes against releases from other threads (a {@link java.lang.ref.Cleaner}). */
    static final Object RELEASES = new Object();
    private static volatile long currentGeneration;

    /** The highest variable a field may use; the engine's terminals sit above it. */
    private static final int VARIABLES = 32766;

    private final Settings settings;
    private final long generation;
    private final Map<String, Field> fields = new HashMap<>();
    private int nextVar;

    /**
     * How the store is started.
     *
     * <p><b>Collections.</b> With a {@code collectionFloor} above 0 (as in {@link #DEFAULTS}) the
     * store collects when it pays, for every caller of it, the raw natives too
     * ({@link com.zvk.quarnelbrisk.bdd.nativeproxy.BDDEngineNativeProxy#doSetCollectionPolicy}): it
     * carves node records as it needs them until it holds {@code max(collectionFloor, 2 x live
     * nodes)}, and only then collects, freeing dead diagrams whole, the oldest releases first, until a
     * sixteenth of its records are free. The records never exceed {@code max(collectionFloor, 2 x the
     * nodes that live sets reach)} plus one block of 1000, and nothing a live set reaches is ever
     * freed. A record takes 20 bytes, the unique table about 10 more a node.
     *
     * <p>The trade-off: a collection frees records, and every cached result that names a freed record
     * is lost, so each collection costs recomputation later; the floor buys fewer collections with
     * memory. Figures of the transitive closure of a random graph on 4096 nodes (the benchmark's
     * closure 2^12, whose sets reach up to about 300,000 nodes at once; 6.0 million nodes made when
     * nothing is collected):
     * <table class="striped">
     * <caption>Collection floor against nodes made and records</caption>
     * <thead><tr><th>collections</th><th>nodes made</th><th>records at the end</th></tr></thead>
     * <tbody>
     * <tr><td>floor 690,000 ({@link #DEFAULTS})</td><td>10.2 million</td><td>690,000</td></tr>
     * <tr><td>floor 900,000</td><td>6.7 million</td><td>900,000</td></tr>
     * <tr><td>floor 1,200,000</td><td>6.2 million</td><td>1,200,000</td></tr>
     * <tr><td>every 10,000 creations (rate 10,000, floor 0)</td><td>40.2 million</td><td>350,000</td></tr>
     * </tbody>
     * </table>
     * The default keeps the records within twice those of collecting every 10,000 creations; a program
     * with memory to spare runs faster with a floor of a few million ({@link #withCollectionFloor}).
     *
     * <p>With a {@code collectionFloor} of 0 the store collects every {@code garbageCollectRate}
     * creations instead, freeing a dead diagram one level per collection, as
     * {@link BDDManagerNativeProxy#doInit} does; the four-argument constructor and
     * {@link #withGarbageCollectRate} choose that.
     *
     * @param maxNodeCacheSize upper bound on the unique table's reported size (buckets); it bounds
     *     neither the number of nodes nor the table itself, which grows with the nodes
     * @param maxOpCacheSize upper bound on the growth of each operation's table of the operation
     *     cache (entries; 16 bytes each)
     * @param garbageCollectRate node creations between two automatic collections when
     *     {@code collectionFloor} is 0; at least 1 in any case, since only then does the engine guard
     *     its release queue with a monitor, which is what makes the releases of a
     *     {@link java.lang.ref.Cleaner} thread safe while the engine computes
     * @param enableGC false keeps every node for good (releases are then ignored)
     * @param collectionFloor records the store may carve before it first collects; 0 collects by
     *     {@code garbageCollectRate} instead
     */
    public record Settings(int maxNodeCacheSize, int maxOpCacheSize, int garbageCollectRate, boolean enableGC,
            int collectionFloor) {
        /** The bound on records under the collection policy, in records a live node. */
        static final int RECORDS_PER_LIVE_NODE = 2;

        /** The floor of {@link #DEFAULTS}: records carved before the first collection. */
        public static final int DEFAULT_COLLECTION_FLOOR = 690_000;

        /**
         * A unique table reported up to 2^22 buckets, an operation cache of up to 2^20 entries for each
         * operation, collections when they pay from {@value #DEFAULT_COLLECTION_FLOOR} records on
         * (about 14 MB), garbage collection on.
         */
        public static final Settings DEFAULTS = new Settings(1 << 22, 1 << 20, 10_000, true, DEFAULT_COLLECTION_FLOOR);

        /**
         * Checks the settings.
         *
         * @param maxNodeCacheSize upper bound of the unique table's reported size, at least 1
         * @param maxOpCacheSize upper bound of the operation cache, at least 1
         * @param garbageCollectRate node creations between two collections by the rate, at least 1
         * @param enableGC false keeps every node for good
         * @param collectionFloor records before the first collection, 0 or more (0: by the rate)
         * @throws IllegalArgumentException for a bound below 1, a collection rate below 1 or a floor
         *     below 0
         */
        public Settings {
            if (maxNodeCacheSize < 1 || maxOpCacheSize < 1) {
                throw new IllegalArgumentException("table bounds must be at least 1");
            }
            if (garbageCollectRate < 1) {
                throw new IllegalArgumentException("a collection rate below 1 leaves the release queue unguarded, "
                        + "so sets could not be released from a cleaner thread");
            }
            if (collectionFloor < 0) {
                throw new IllegalArgumentException("a collection floor below 0");
            }
        }

        /**
         * Settings that collect every {@code garbageCollectRate} creations, as
         * {@link BDDManagerNativeProxy#doInit} does.
         *
         * @param maxNodeCacheSize upper bound of the unique table's reported size, at least 1
         * @param maxOpCacheSize upper bound of the operation cache, at least 1
         * @param garbageCollectRate node creations between two collections, at least 1
         * @param enableGC false keeps every node for good
         * @throws IllegalArgumentException for a bound below 1 or a collection rate below 1
         */
        public Settings(int maxNodeCacheSize, int maxOpCacheSize, int garbageCollectRate, boolean enableGC) {
            this(maxNodeCacheSize, maxOpCacheSize, garbageCollectRate, enableGC, 0);
        }

        /**
         * These settings collecting every {@code rate} creations instead of when it pays.
         *
         * @param rate node creations between two collections, at least 1
         * @return the changed settings
         */
        public Settings withGarbageCollectRate(int rate) {
            return new Settings(maxNodeCacheSize, maxOpCacheSize, rate, enableGC, 0);
        }

        /**
         * These settings collecting when it pays, from {@code records} records on.
         *
         * @param records records before the first collection, 1 or more
         * @return the changed settings
         * @throws IllegalArgumentException for a floor below 1
         */
        public Settings withCollectionFloor(int records) {
            if (records < 1) {
                throw new IllegalArgumentException("a collection floor below 1");
            }
            return new Settings(maxNodeCacheSize, maxOpCacheSize, garbageCollectRate, enableGC, records);
        }

        /**
         * These settings with other table bounds.
         *
         * @param nodeCache upper bound of the unique table's reported size
         * @param opCache upper bound of the operation cache
         * @return the changed settings
         */
        public Settings withTableBounds(int nodeCache, int opCache) {
            return new Settings(nodeCache, opCache, garbageCollectRate, enableGC, collectionFloor);
        }
    }

    private Engine(Settings settings, long generation) {
        this.settings = settings;
        this.generation = generation;
    }

    /**
     * Starts the store with {@link Settings#DEFAULTS}.
     *
     * @return the engine of the new generation
     */
    public static Engine start() {
        return start(Settings.DEFAULTS);
    }

    /**
     * Starts the store afresh; everything made before becomes stale. With a collection floor the
     * store collects by the policy of {@link Settings} from the start.
     *
     * @param settings how to start it
     * @return the engine of the new generation
     */
    public static Engine start(Settings settings) {
        synchronized (RELEASES) {
            BDDManagerNativeProxy.doInit(settings.maxNodeCacheSize(), settings.maxOpCacheSize(),
                    settings.garbageCollectRate(), settings.enableGC());
            if (settings.collectionFloor() > 0) {
                com.zvk.quarnelbrisk.bdd.nativeproxy.BDDEngineNativeProxy.doSetCollectionPolicy(
                        settings.collectionFloor(), Settings.RECORDS_PER_LIVE_NODE);
            }
            currentGeneration++;
            return new Engine(settings, currentGeneration);
        }
    }

    /**
     * The settings this engine was started with.
     *
     * @return the settings
     */
    public Settings settings() {
        return settings;
    }

    /**
     * The number of this start in the process, from 1.
     *
     * @return the generation
     */
    public long generation() {
        return generation;
    }

    /**
     * Whether this is still the engine of the process (no later start).
     *
     * @return true while the engine's sets can be used
     */
    public boolean isCurrent() {
        return generation == currentGeneration;
    }

    static boolean isCurrent(long generation) {
        return generation == currentGeneration;
    }

    void checkCurrent() {
        if (!isCurrent()) {
            throw new IllegalStateException("made by engine generation " + generation
                    + ", but the engine was restarted since (now generation " + currentGeneration + ")");
        }
    }

    /**
     * Declares a field, placed on the next free run of variables.
     *
     * @param name a name not yet declared on this engine
     * @param width 1 to 30 bits (so that every value has a listing bound that fits an int)
     * @return the new field
     * @throws IllegalArgumentException for a taken name or a width out of range
     * @throws IllegalStateException when the engine's variables are used up
     */
    public synchronized Field field(String name, int width) {
        checkCurrent();
        if (width < 1 || width > 30) {
            throw new IllegalArgumentException("field " + name + ": width " + width + " is not 1 to 30");
        }
        if (fields.containsKey(name)) {
            throw new IllegalArgumentException("field " + name + " is declared already");
        }
        if (nextVar + width > VARIABLES) {
            throw new IllegalStateException("no room for field " + name + ": " + nextVar + " variables are used");
        }
        Field f = new Field(this, name, width, nextVar);
        nextVar += width;
        fields.put(name, f);
        return f;
    }

    /**
     * A declared field.
     *
     * @param name its name
     * @return the field
     * @throws IllegalArgumentException when no field has that name
     */
    public synchronized Field field(String name) {
        Field f = fields.get(name);
        if (f == null) {
            throw new IllegalArgumentException("no field " + name);
        }
        return f;
    }

    /**
     * The layout of some fields of this engine; with no fields, the layout of the empty tuple.
     *
     * @param fields distinct fields of this engine, in any order
     * @return their layout
     */
    public Layout layout(Field... fields) {
        checkCurrent();
        return Layout.of(this, List.of(fields));
    }

    /**
     * The empty set.
     *
     * @param layout its layout
     * @return a new set that the caller owns
     */
    public TupleSet empty(Layout layout) {
        return constant(layout, BDDManagerNativeProxy.doGetZero());
    }

    /**
     * The set of every tuple of a layout.
     *
     * @param layout its layout
     * @return a new set that the caller owns
     */
    public TupleSet all(Layout layout) {
        return constant(layout, BDDManagerNativeProxy.doGetOne());
    }

    private TupleSet constant(Layout layout, int terminal) {
        checkLayout(layout);
        BDDNativeProxy.doIncRefCount(terminal);  // the constants come without a reference
        return new TupleSet(this, layout, terminal);
    }

    /**
     * The set of one tuple.
     *
     * @param layout its layout
     * @param values one value per field, in the layout's order
     * @return a new set that the caller owns
     */
    public TupleSet tuple(Layout layout, int... values) {
        checkLayout(layout);
        return new TupleSet(this, layout,
                BDDManagerNativeProxy.doMakeSingleTuple(layout.firstVars(), layout.widths(), checkedTuple(layout, values)));
    }

    /**
     * The set of some tuples.
     *
     * @param layout their layout
     * @param tuples each one value per field, in the layout's order; repeats count once
     * @return a new set that the caller owns
     */
    public TupleSet of(Layout layout, Collection<int[]> tuples) {
        try (TupleSet empty = empty(layout)) {
            return empty.withAll(tuples);
        }
    }

    /** Carries out every queued release now (they also happen every {@code garbageCollectRate} creations). */
    public void collectGarbage() {
        checkCurrent();
        BDDManagerNativeProxy.doCollectGarbage();
    }

    /**
     * The engine's statistics report.
     *
     * @return five lines: alive nodes, nodes allocated, and the sizes of the tables and the records
     */
    public List<String> statistics() {
        checkCurrent();
        return List.of(BDDManagerNativeProxy.doGetInfo());
    }

    /**
     * Writes a group of sets to a stream: one int array of diagrams (shared parts written once),
     * then one int array with the sets' layouts. Nothing is written when the callback cancels.
     *
     * @param out where to write; flushed, not closed
     * @param sets the sets, of this engine
     * @param progress told of the progress, and may cancel; null for neither
     * @throws IOException when writing fails
     * @throws java.util.concurrent.CancellationException when the callback cancelled
     */
    public void save(OutputStream out, List<TupleSet> sets, Progress progress) throws IOException {
        checkCurrent();
        SetStreams.save(this, out, sets, progress);
    }

    /**
     * Reads back a group of sets that {@link #save} wrote. Only int arrays are read from the stream:
     * an object of any other class is refused before it is built. The layouts must have the runs of
     * those saved (fields declared in the same order and widths place them so).
     *
     * @param in where to read
     * @param layouts the layout of each set, in the order saved
     * @param progress told of the progress, and may cancel; null for neither
     * @return the sets, which the caller owns
     * @throws IOException when reading fails, the stream holds another class, or its layouts differ
     * @throws java.util.concurrent.CancellationException when the callback cancelled
     */
    public List<TupleSet> load(InputStream in, List<Layout> layouts, Progress progress) throws IOException {
        checkCurrent();
        layouts.forEach(this::checkLayout);
        return SetStreams.load(this, in, layouts, progress);
    }

    void checkLayout(Layout layout) {
        checkCurrent();
        if (layout.engine() != this) {
            throw new IllegalArgumentException("layout " + layout + " belongs to another engine");
        }
    }

    static int[] checkedTuple(Layout layout, int[] values) {
        if (values.length != layout.size()) {
            throw new IllegalArgumentException(values.length + " values for the " + layout.size() + " fields of " + layout);
        }
        int[] copy = values.clone();
        for (int i = 0; i < copy.length; i++) {
            layout.fields().get(i).checkedValue(copy[i]);
        }
        return copy;
    }
}
