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
     * @param maxNodeCacheSize upper bound on the growth of the unique table (buckets); it bounds
     *     the table, not the number of nodes
     * @param maxOpCacheSize upper bound on the growth of the operation cache (entries)
     * @param garbageCollectRate node creations between two automatic collections; at least 1, since
     *     only then does the engine guard its release queue with a monitor, which is what makes the
     *     releases of a {@link java.lang.ref.Cleaner} thread safe while the engine computes
     * @param enableGC false keeps every node for good (releases are then ignored)
     */
    public record Settings(int maxNodeCacheSize, int maxOpCacheSize, int garbageCollectRate, boolean enableGC) {
        /** Room for a few million nodes, a collection every 10000 creations, garbage collection on. */
        public static final Settings DEFAULTS = new Settings(1 << 22, 1 << 20, 10_000, true);

        /**
         * Checks the settings.
         *
         * @param maxNodeCacheSize upper bound of the unique table, at least 1
         * @param maxOpCacheSize upper bound of the operation cache, at least 1
         * @param garbageCollectRate node creations between two collections, at least 1
         * @param enableGC false keeps every node for good
         * @throws IllegalArgumentException for a bound below 1 or a collection rate below 1
         */
        public Settings {
            if (maxNodeCacheSize < 1 || maxOpCacheSize < 1) {
                throw new IllegalArgumentException("table bounds must be at least 1");
            }
            if (garbageCollectRate < 1) {
                throw new IllegalArgumentException("a collection rate below 1 leaves the release queue unguarded, "
                        + "so sets could not be released from a cleaner thread");
            }
        }

        /**
         * These settings with another collection rate.
         *
         * @param rate node creations between two collections, at least 1
         * @return the changed settings
         */
        public Settings withGarbageCollectRate(int rate) {
            return new Settings(maxNodeCacheSize, maxOpCacheSize, rate, enableGC);
        }

        /**
         * These settings with other table bounds.
         *
         * @param nodeCache upper bound of the unique table
         * @param opCache upper bound of the operation cache
         * @return the changed settings
         */
        public Settings withTableBounds(int nodeCache, int opCache) {
            return new Settings(nodeCache, opCache, garbageCollectRate, enableGC);
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
     * Starts the store afresh; everything made before becomes stale.
     *
     * @param settings how to start it
     * @return the engine of the new generation
     */
    public static Engine start(Settings settings) {
        synchronized (RELEASES) {
            BDDManagerNativeProxy.doInit(settings.maxNodeCacheSize(), settings.maxOpCacheSize(),
                    settings.garbageCollectRate(), settings.enableGC());
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
