package com.zvk.quarnelbrisk.bdd.typed;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDEngineNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDFieldNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.NativeBDDException;
import com.zvk.quarnelbrisk.ui.ThreadCallback;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.lang.ref.Reference;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.concurrent.CancellationException;
import java.util.concurrent.Executors;
import java.util.concurrent.ScheduledExecutorService;
import java.util.concurrent.ScheduledFuture;
import java.util.concurrent.ScheduledThreadPoolExecutor;
import java.util.concurrent.TimeUnit;
import java.util.function.Supplier;
import java.util.stream.Stream;

/**
 * The engine of this process, as started by {@link #start(Settings)}: it declares fields (on runs of
 * variables, interleaved, or as domains of any size), makes tuple sets and the common relations
 * between fields, collects garbage, and saves and loads groups of sets.
 *
 * <p>There is one store per process. Each start begins a new generation and throws the previous
 * store away: every set, field and layout made before then refuses use afterwards with an
 * {@link IllegalStateException}, instead of naming some node of the new store. Close the sets of a
 * generation before starting the next one if their memory matters; a set closed afterwards releases
 * nothing.
 *
 * <p>Long operations can be followed and stopped: within a {@link #watch(Progress) watch} every
 * operation reports the nodes it has made so far, and any thread may cancel it, after which it raises
 * a {@link CancellationException} and leaves nothing behind.
 */
public final class Engine {
    /** Guards generation changes against releases from other threads (a {@link java.lang.ref.Cleaner}). */
    static final Object RELEASES = new Object();
    private static volatile long currentGeneration;

    /** The highest variable a field may use; the engine's terminals sit above it. */
    static final int VARIABLES = 32766;

    private final Settings settings;
    private final long generation;
    private final Map<String, Field> fields = new HashMap<>();
    private int nextVar;

    /**
     * How the store is started.
     *
     * <h2>Sizing</h2>
     * The two table bounds decide much of the engine's speed; the collection floor below decides its
     * records. Both tables start small, double as the store grows and never shrink. Figures of this
     * machine (2 shared cores, 2026-12-09; the ranges of three runs each, alternating):
     * <ul>
     *   <li>{@code maxNodeCacheSize}, the unique table, through which every node is found or made: 8
     *       bytes a bucket (the statistics report counts 4). The bound is the size the report gives;
     *       past it the table still grows, at one bucket a node, so chains stay short however many
     *       nodes the store holds, and the bound decides little: building a set of 20,000 random pairs
     *       of 20-bit values one tuple at a time took 0.28 s with the default and 0.33 s with a
     *       bound of 1024.</li>
     *   <li>{@code maxOpCacheSize}, the operation cache, the memo of the operations: a table for each
     *       operation, each of at most this many entries of 16 bytes (a third of a 64-byte line for the
     *       relational product), so the default 2<sup>20</sup> takes 16 MiB for each operation a program
     *       uses. A cache too small for the work repeats it: the benchmarks' transitive closure of a
     *       random graph of 2<sup>12</sup> nodes through this layer took 57 s with 4096 entries, 3.7 to
     *       4.9 s with the default and 3.9 to 4.5 s with 2<sup>22</sup>, which took 153 MB of memory
     *       against the default's 69 MB. The default suits most work; give less only where memory is
     *       short.</li>
     * </ul>
     *
     * <h2>Collections</h2>
     * With a {@code collectionFloor} above 0 (as in {@link #DEFAULTS}) the store collects when it pays,
     * for every caller of it, the raw natives too ({@link
     * com.zvk.quarnelbrisk.bdd.nativeproxy.BDDEngineNativeProxy#doSetCollectionPolicy}): it carves node
     * records as it needs them until it holds {@code max(collectionFloor, 2 x live nodes)}, and only then
     * collects, freeing dead diagrams whole, the oldest releases first, until a sixteenth of its records
     * are free. The records never exceed {@code max(collectionFloor, 2 x the nodes that live sets reach)}
     * plus one block of 1000, and nothing a live set reaches is ever freed. A record takes 20 bytes, the
     * unique table about 10 more a node.
     *
     * <p>The trade-off: a collection frees records, and every cached result that names a freed record
     * is lost, so each collection costs recomputation later; the floor buys fewer collections with
     * memory. Figures of the transitive closure of a random graph on 4096 nodes (the benchmark's
     * closure 2^12, whose sets reach up to about 300,000 nodes at once; 5.8 million nodes made when
     * nothing is collected):
     * <table class="striped">
     * <caption>Collection floor against nodes made and records</caption>
     * <thead><tr><th>collections</th><th>nodes made</th><th>records at the end</th></tr></thead>
     * <tbody>
     * <tr><td>floor 690,000 ({@link #DEFAULTS})</td><td>10.0 million</td><td>690,000</td></tr>
     * <tr><td>floor 900,000</td><td>6.6 million</td><td>900,000</td></tr>
     * <tr><td>floor 1,200,000</td><td>6.0 million</td><td>1,200,000</td></tr>
     * <tr><td>every 10,000 creations (rate 10,000, floor 0)</td><td>39.9 million</td><td>348,000</td></tr>
     * </tbody>
     * </table>
     * The default keeps the records within twice those of collecting every 10,000 creations; a program
     * with memory to spare runs faster with a floor of a few million ({@link #withCollectionFloor}):
     * the closure took 4.1 to 4.9 s with the default and 2.6 to 2.9 s with a floor of 6,000,000
     * (5.8 million records, 117 MB), about as fast as the engine that never collects.
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
     * Declares a field of {@code width} bits, placed on the next free run of variables.
     *
     * @param name a name not yet declared on this engine
     * @param width 1 to 30 bits (so that every value has a listing bound that fits an int)
     * @return the new field, of 2<sup>width</sup> values
     * @throws IllegalArgumentException for a taken name or a width out of range
     * @throws IllegalStateException when the engine's variables are used up
     */
    public Field field(String name, int width) {
        if (width < 1 || width > 30) {
            throw new IllegalArgumentException("field " + name + ": width " + width + " is not 1 to 30");
        }
        return declare(width, 1 << width, name).get(0);
    }

    /**
     * Declares a field of {@code size} values, 0 to size − 1, on the next free run of
     * ⌈log<sub>2</sub> size⌉ variables (at least one). Sets over it never hold a value outside the
     * domain: {@link #all}, {@link TupleSet#complement} and the builders keep to it, and tuples
     * refuse such values.
     *
     * @param name a name not yet declared on this engine
     * @param size 1 to 2<sup>30</sup>
     * @return the new field
     * @throws IllegalArgumentException for a taken name or a size out of range
     * @throws IllegalStateException when the engine's variables are used up
     */
    public Field domain(String name, long size) {
        return declare(widthFor(size), (int) size, name).get(0);
    }

    /**
     * Declares fields of one width whose bits alternate: the most significant bit of each field in
     * the order given, then the next bit of each, and so on, on fresh variables. Relations between
     * interleaved fields ({@link #equal}, {@link #plus}) take a few nodes a bit, where fields on runs
     * of their own take nodes exponential in the width; relations without such a pattern may be
     * smaller on runs.
     *
     * @param width 1 to 30 bits each
     * @param names the names of the fields, none declared yet, at least one
     * @return the fields, in the order of the names
     * @throws IllegalArgumentException for a taken or repeated name or a width out of range
     * @throws IllegalStateException when the engine's variables are used up
     */
    public List<Field> interleaved(int width, String... names) {
        if (width < 1 || width > 30) {
            throw new IllegalArgumentException("fields " + Arrays.toString(names) + ": width " + width + " is not 1 to 30");
        }
        return declare(width, 1 << width, names);
    }

    /**
     * Declares domains of one size whose bits alternate, as {@link #interleaved} does for fields of
     * one width.
     *
     * @param size 1 to 2<sup>30</sup> values each
     * @param names the names of the fields, none declared yet, at least one
     * @return the fields, in the order of the names
     * @throws IllegalArgumentException for a taken or repeated name or a size out of range
     * @throws IllegalStateException when the engine's variables are used up
     */
    public List<Field> interleavedDomains(long size, String... names) {
        return declare(widthFor(size), (int) size, names);
    }

    private static int widthFor(long size) {
        if (size < 1 || size > 1 << 30) {
            throw new IllegalArgumentException("a domain of " + size + " values is not 1 to 2^30");
        }
        return Math.max(1, 64 - Long.numberOfLeadingZeros(size - 1));
    }

    /** Fields of {@code size} values on {@code width} bits each, bit i of field f at variable next + i * n + f. */
    private synchronized List<Field> declare(int width, int size, String... names) {
        checkCurrent();
        int n = names.length;
        if (n == 0 || new HashSet<>(Arrays.asList(names)).size() != n) {
            throw new IllegalArgumentException("names must be given, each once: " + Arrays.toString(names));
        }
        for (String name : names) {
            if (fields.containsKey(Objects.requireNonNull(name, "a field needs a name"))) {
                throw new IllegalArgumentException("field " + name + " is declared already");
            }
        }
        if (nextVar + (long) width * n > VARIABLES) {
            throw new IllegalStateException("no room for " + Arrays.toString(names) + ": " + nextVar + " variables are used");
        }
        List<Field> made = new ArrayList<>();
        for (int f = 0; f < n; f++) {
            int[] vars = new int[width];
            for (int i = 0; i < width; i++) {
                vars[i] = nextVar + i * n + f;
            }
            Field field = new Field(this, names[f], vars, size);
            fields.put(names[f], field);
            made.add(field);
        }
        nextVar += width * n;
        return List.copyOf(made);
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
     * @param fields distinct fields of this engine, in the order of the layout's tuples
     * @return their layout, which keeps that order
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
        checkLayout(layout);
        return new TupleSet(this, layout, held(BDDManagerNativeProxy.doGetZero()));
    }

    /**
     * The set of every tuple of a layout: every value of each field's domain.
     *
     * @param layout its layout
     * @return a new set that the caller owns
     */
    public TupleSet all(Layout layout) {
        checkLayout(layout);
        return new TupleSet(this, layout, guarded(() -> withinDomains(layout, held(BDDManagerNativeProxy.doGetOne()))));
    }

    /**
     * The set of one tuple.
     *
     * @param layout its layout
     * @param values one value per field, in the layout's order, each in its field's domain
     * @return a new set that the caller owns
     */
    public TupleSet tuple(Layout layout, int... values) {
        checkLayout(layout);
        int[] checked = checkedTuple(layout, values);
        return new TupleSet(this, layout,
                guarded(() -> BDDFieldNativeProxy.doMakeTuple(layout.fieldVars(), layout.widths(), checked)));
    }

    /**
     * The set of some tuples, built in one pass over them.
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

    /**
     * The pairs of equal values of two fields of one width: the set over {@code (a, b)} where
     * {@code a = b}, within both domains. With the fields interleaved it takes a few nodes a bit.
     *
     * @param a a field
     * @param b another field of the same width
     * @return a new set over {@code (a, b)} that the caller owns
     * @throws IllegalArgumentException when the widths differ or the fields are the same
     */
    public TupleSet equal(Field a, Field b) {
        Layout l = pairLayout(a, b);
        return new TupleSet(this, l,
                guarded(() -> withinDomains(l, BDDFieldNativeProxy.doMakeEqual(a.varList(), b.varList()))));
    }

    /**
     * The values of a field from {@code lo} to {@code hi}, both included, within its domain.
     *
     * @param f a field
     * @param lo the least value
     * @param hi the greatest value
     * @return a new set over {@code (f)} that the caller owns; empty when no value of the domain is
     *     in the range
     */
    public TupleSet range(Field f, long lo, long hi) {
        Layout l = layout(f);
        return new TupleSet(this, l, guarded(() -> BDDFieldNativeProxy.doMakeRange(f.varList(), lo, Math.min(hi, f.size() - 1L))));
    }

    /**
     * The pairs where one field is the other plus a constant, without wrapping around: the set over
     * {@code (from, to)} where {@code to = from + k}, within both domains.
     *
     * @param from a field
     * @param to another field of the same width
     * @param k the constant, which may be negative
     * @return a new set over {@code (from, to)} that the caller owns
     * @throws IllegalArgumentException when the widths differ or the fields are the same
     */
    public TupleSet plus(Field from, Field to, long k) {
        Layout l = pairLayout(from, to);
        return new TupleSet(this, l,
                guarded(() -> withinDomains(l, BDDFieldNativeProxy.doMakePlus(from.varList(), to.varList(), k))));
    }

    private Layout pairLayout(Field a, Field b) {
        Layout l = layout(a, b);
        if (a.width() != b.width()) {
            throw new IllegalArgumentException("fields " + a + " and " + b + " differ in width");
        }
        return l;
    }

    /** Carries out every queued release now (they also happen every {@code garbageCollectRate} creations). */
    public void collectGarbage() {
        checkCurrent();
        BDDManagerNativeProxy.doCollectGarbage();
    }

    /**
     * The engine's statistics report, as text; {@link #stats} gives the figures as numbers.
     *
     * @return five lines: alive nodes, nodes allocated, and the sizes of the tables and the records
     *     (as the report has always counted them, 4 bytes a bucket and 24 an entry)
     */
    public List<String> statistics() {
        checkCurrent();
        return List.of(BDDManagerNativeProxy.doGetInfo());
    }

    /**
     * The figures of the store, as the engine counts them now.
     *
     * @param liveNodes inner nodes alive: those the sets reach, and those released but not freed yet
     *     (freeing is lazy, a level per collection; {@link #drain} frees them all)
     * @param records node records carved, the two terminals included; they are never given back
     * @param recordBytes the bytes the records take
     * @param uniqueTableBuckets the buckets of the unique table, through which every node is found
     * @param uniqueTableBytes the bytes the unique table takes
     * @param opCacheEntries the slots of the operation cache
     * @param opCacheOccupied the slots that hold an entry
     * @param opCacheBytes the bytes the operation cache takes
     * @param collections collections run since the engine started
     */
    public record Stats(long liveNodes, long records, long recordBytes, long uniqueTableBuckets, long uniqueTableBytes,
            long opCacheEntries, long opCacheOccupied, long opCacheBytes, long collections) {
        /**
         * The bytes of the store: records, unique table and operation cache.
         *
         * @return their sum
         */
        public long totalBytes() {
            return recordBytes + uniqueTableBytes + opCacheBytes;
        }
    }

    /**
     * The figures of the store as numbers: nodes, records, tables and their real sizes in bytes, the
     * cache's occupancy, collections run.
     *
     * @return the figures now
     */
    public Stats stats() {
        checkCurrent();
        long[] s = BDDEngineNativeProxy.doGetStats();
        return new Stats(s[BDDEngineNativeProxy.STAT_LIVE_NODES], s[BDDEngineNativeProxy.STAT_RECORDS],
                s[BDDEngineNativeProxy.STAT_RECORD_BYTES], s[BDDEngineNativeProxy.STAT_BUCKETS],
                s[BDDEngineNativeProxy.STAT_BUCKET_BYTES], s[BDDEngineNativeProxy.STAT_CACHE_SLOTS],
                s[BDDEngineNativeProxy.STAT_CACHE_OCCUPIED], s[BDDEngineNativeProxy.STAT_CACHE_BYTES],
                s[BDDEngineNativeProxy.STAT_COLLECTIONS]);
    }

    /**
     * Frees everything that no open set reaches: the diagrams of closed sets down to their last node
     * (which a collection alone frees a level at a time), and what the engine keeps for its own
     * operations ({@link #releaseCaches}). Afterwards {@link Stats#liveNodes} is exactly the number of
     * inner nodes the open sets reach, {@link #nodeCount(Collection)} of them, and 0 when no set is
     * open. The one exception is a node whose reference count once reached its ceiling (2<sup>14</sup>
     * − 1 references): it is never freed.
     *
     * <p>This is the way to check a program for leaks: close what it no longer needs, then
     *
     * <pre>{@code
     * engine.drain();
     * assert engine.stats().liveNodes() == engine.nodeCount(setsStillOpen);
     * }</pre>
     *
     * A set that a program dropped without closing is released only once its cleaner has run, which
     * the garbage collector decides. Draining takes time in proportion to what it frees.
     */
    public synchronized void drain() {
        checkCurrent();
        releaseCaches();
        BDDEngineNativeProxy.doDrain();
    }

    /**
     * The number of distinct inner nodes of a group of sets: what they take in the store together,
     * shared parts counted once (a {@link #save} writes each of them once).
     *
     * @param sets open sets of this engine
     * @return their inner nodes
     * @throws IllegalArgumentException for a set of another engine
     */
    public int nodeCount(Collection<TupleSet> sets) {
        checkCurrent();
        int[] roots = sets.stream().mapToInt(s -> {
            if (s.engine() != this) {
                throw new IllegalArgumentException("set " + s + " belongs to another engine");
            }
            return s.handle();
        }).toArray();
        try {
            return BDDFieldNativeProxy.doDescribe(roots)[1] - 2;
        } finally {
            Reference.reachabilityFence(sets);
        }
    }

    /**
     * Gives back what the engine keeps for its own operations: the diagrams of the variable sets
     * that projections and joins quantify, and of the domains' constraints, one reference each, and
     * the variable maps of renamings. They are made again when next needed. Once every set is closed
     * as well, the store holds nothing that this engine made.
     */
    public synchronized void releaseCaches() {
        checkCurrent();
        Stream.concat(cubes.values().stream(), domains.values().stream()).forEach(BDDNativeProxy::doDecRefCount);
        cubes.clear();
        domains.clear();
        maps.clear();
    }

    /**
     * Writes a group of sets to a stream, in a file format of its own: a magic number and the format's
     * version, the sets' layouts (each field's name, size and variables), the diagrams of all sets
     * (shared parts written once), and a CRC-32C checksum over all of it, so that {@link #load} finds
     * every damage. Nothing is written when the callback cancels.
     *
     * @param out where to write; flushed, not closed
     * @param sets the sets, open and of this engine
     * @param progress told of the progress, and may cancel; null for neither
     * @throws IOException when writing fails
     * @throws CancellationException when the callback cancelled
     */
    public void save(OutputStream out, List<TupleSet> sets, Progress progress) throws IOException {
        checkCurrent();
        SetStreams.save(this, out, sets, progress);
    }

    /**
     * Reads back a group of sets that {@link #save} wrote, over the layouts given. Each layout must
     * hold the fields of the set saved, in any order (names, sizes and variables alike: declare the
     * fields of a new generation as the saved ones were declared); the set takes the layout given.
     *
     * <p>The whole file is checked before any node is built: its checksum, its structure, and that
     * each set tests only the variables of its layout's fields. A file that fails a check is refused
     * with an {@link InvalidSetFileException} that says what is wrong, and the store is left as it
     * was. Files of the two formats before (object streams of int arrays, without a checksum) still
     * load, through a filter that builds no object but int arrays, and with the same checks of
     * layouts and diagrams; a damage that keeps their structure sound cannot be found in them.
     *
     * @param in where to read; a file of the current format is read to its last byte and no further
     * @param layouts the layout of each set, in the order saved
     * @param progress told of the progress of building the sets, and may cancel; null for neither
     * @return the sets, which the caller owns
     * @throws InvalidSetFileException when the file is damaged, cut short, of another format or
     *     version, or holds other sets than the layouts given
     * @throws IOException when reading fails
     * @throws CancellationException when the callback or a {@link #watch} cancelled
     */
    public List<TupleSet> load(InputStream in, List<Layout> layouts, Progress progress) throws IOException {
        checkCurrent();
        layouts.forEach(this::checkLayout);
        return SetStreams.load(this, in, layouts, progress);
    }

    // ---- Watching and cancelling --------------------------------------------------------------------

    /** The message of a watched operation that was cancelled. */
    private static final String CANCELLED = "Assert failed: Cancelled";
    /** The layer's open watch, if any: the engine watches one scope at a time. */
    private static Watch openWatch;

    /**
     * Opens a watch: until it is closed, every operation of the engine reports its progress to
     * {@code progress} and may be cancelled from any thread with {@link Watch#cancel}.
     *
     * <pre>{@code
     * try (Engine.Watch w = engine.watch((nodes, total) -> true)) {
     *     button.onClick(w::cancel);                  // any thread
     *     TupleSet big = huge.complement();           // CancellationException when cancelled
     * }
     * }</pre>
     *
     * @param progress told, every 65536 new nodes, the nodes made since the watch opened (as
     *     {@code done}, with {@code total} -1); false cancels. It runs on the engine's thread inside
     *     the operation, so it must not call the engine. Null for a watch that only cancels
     * @return the open watch, to be closed by the thread that drives the engine
     * @throws IllegalStateException when a watch is open already
     */
    public Watch watch(Progress progress) {
        return watch(progress, null);
    }

    /**
     * Opens a watch, as {@link #watch(Progress)} does, that cancels by itself once {@code limit} has
     * passed.
     *
     * @param progress told of the progress and may cancel; null for none
     * @param limit the time the watched operations may take together, from now; null for no limit
     * @return the open watch, to be closed by the thread that drives the engine
     * @throws IllegalStateException when a watch is open already
     */
    public Watch watch(Progress progress, Duration limit) {
        checkCurrent();
        synchronized (Watch.class) {
            if (openWatch != null && openWatch.engine.isCurrent()) {
                throw new IllegalStateException("a watch is open already; close it first");
            }
            Watch w = new Watch(this, progress);
            BDDEngineNativeProxy.doWatch(progress == null ? null : w.new Reports(), Watch.nodesBetweenReports);
            openWatch = w;
            if (limit != null) {
                w.deadline = Watch.timer().schedule(w::cancel, Math.max(0, limit.toNanos()), TimeUnit.NANOSECONDS);
            }
            return w;
        }
    }

    /**
     * A scope in which the engine's operations are watched: they report progress, and {@link #cancel}
     * stops the one in progress from any thread at its next step. A cancelled operation raises
     * {@link CancellationException} and leaves nothing behind: every reference and node it took is
     * given back, every set the caller holds is unchanged (a consuming variant such as
     * {@link TupleSet#unionWith} keeps its receiver open), and after the watch is closed the engine
     * answers as before. Set algebra, projection, join, renaming, adding tuples, counting and
     * listing are watched; saving and loading take a {@link Progress} of their own. A cancellation
     * holds for the rest of the scope: later operations of the same watch are cancelled at their
     * first step (a result the engine has cached takes none), so close the watch to go on.
     *
     * <p>The check costs next to nothing while no one cancels: cancelling moves the limit that every
     * recursion level of the engine tests anyway for the room left on its stack.
     */
    public static final class Watch implements AutoCloseable {
        /** New nodes between two reports; tests lower it to watch small sets. */
        static int nodesBetweenReports = 1 << 16;
        private static ScheduledExecutorService timer;

        private final Engine engine;
        private final Progress progress;
        private volatile boolean cancelled;
        private boolean closed;
        private ScheduledFuture<?> deadline;

        private Watch(Engine engine, Progress progress) {
            this.engine = engine;
            this.progress = progress;
        }

        /** One daemon thread that cancels the watches whose time is up. */
        private static synchronized ScheduledExecutorService timer() {
            if (timer == null) {
                ScheduledThreadPoolExecutor t = new ScheduledThreadPoolExecutor(1, r -> {
                    Thread thread = Executors.defaultThreadFactory().newThread(r);
                    thread.setName("engine watch deadlines");
                    thread.setDaemon(true);
                    return thread;
                });
                t.setRemoveOnCancelPolicy(true);
                timer = t;
            }
            return timer;
        }

        /**
         * Cancels the watched operation in progress, and every later one of this watch. Any thread
         * may call it at any time, the progress callback included; it does nothing once the watch
         * is closed.
         */
        public void cancel() {
            synchronized (this) {
                if (!closed) {
                    cancelled = true;
                    BDDEngineNativeProxy.doCancel();
                }
            }
        }

        /**
         * Whether the watch was cancelled: by {@link #cancel}, by its time limit or by its progress
         * callback.
         *
         * @return true once cancelled
         */
        public boolean isCancelled() {
            return cancelled;
        }

        /** Ends the watch, and with it any cancellation; on the thread that drives the engine. */
        @Override
        public void close() {
            synchronized (Watch.class) {
                synchronized (this) {
                    if (closed) {
                        return;
                    }
                    closed = true;
                    if (deadline != null) {
                        deadline.cancel(false);
                    }
                }
                if (openWatch == this) {
                    openWatch = null;
                    BDDEngineNativeProxy.doUnwatch();
                }
            }
        }

        /** The progress seen as the engine's callback. */
        private final class Reports implements ThreadCallback {
            @Override
            public boolean checkCancelled() {
                return cancelled;
            }

            @Override
            public void informProgress(int done, int total, String message) {
                if (!progress.proceed(done, total)) {
                    cancel();
                }
            }
        }
    }

    /**
     * Runs native calls, turning the engine's refusal of a cancelled operation into a
     * {@link CancellationException}; the engine has given back all the operation held.
     */
    static <R> R guarded(Supplier<R> call) {
        try {
            return call.get();
        } catch (NativeBDDException e) {
            if (!CANCELLED.equals(e.getMessage())) {
                throw e;
            }
            CancellationException c = new CancellationException("cancelled by a watch; every set held is unchanged");
            c.initCause(e);
            throw c;
        }
    }

    // ---- What the engine keeps for its operations -----------------------------------------------------

    /** Cubes by their sorted variables, and the domains' constraints: one reference each. */
    private final Map<Key, Integer> cubes = new HashMap<>();
    private final Map<Field, Integer> domains = new HashMap<>();
    /** Variable maps by their sources followed by their targets. */
    private final Map<Key, Integer> maps = new HashMap<>();

    /** Int arrays compared by content. */
    private record Key(int[] ints) {
        @Override
        public boolean equals(Object o) {
            return o instanceof Key k && Arrays.equals(k.ints, ints);
        }

        @Override
        public int hashCode() {
            return Arrays.hashCode(ints);
        }
    }

    /**
     * The cube of a set of variables, borrowed: the engine keeps one reference to it for the
     * generation, so that the operation cache, which knows a variable set by its cube's node, keeps
     * answering for it.
     */
    synchronized int cube(int[] vars) {
        int[] sorted = vars.clone();
        Arrays.sort(sorted);
        return cubes.computeIfAbsent(new Key(sorted), k -> BDDFieldNativeProxy.doMakeCube(k.ints()));
    }

    /** The id of the one-to-one map {@code from[i] -> to[i]}, registered once a generation. */
    synchronized int map(int[] from, int[] to) {
        int[] both = Arrays.copyOf(from, from.length + to.length);
        System.arraycopy(to, 0, both, from.length, to.length);
        return maps.computeIfAbsent(new Key(both), k -> BDDFieldNativeProxy.doRegisterMap(from, to));
    }

    /**
     * An owned handle restricted to the domains of the layout's fields: given back, and the
     * restriction returned with a reference of its own.
     */
    int withinDomains(Layout layout, int owned) {
        for (Field f : layout.partialFields()) {
            int next;
            try {  // a cancelled or refused call gives the handle back all the same
                next = BDDNativeProxy.doIntersect(owned, domain(f));
            } finally {
                BDDNativeProxy.doDecRefCount(owned);
            }
            owned = next;
        }
        return owned;
    }

    /** The values of a field's domain, borrowed: kept for the generation. */
    private synchronized int domain(Field f) {
        return domains.computeIfAbsent(f, d -> BDDFieldNativeProxy.doMakeRange(d.varList(), 0, d.size() - 1));
    }

    /** A reference more on a constant, which the natives hand out without one. */
    private static int held(int terminal) {
        BDDNativeProxy.doIncRefCount(terminal);
        return terminal;
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
