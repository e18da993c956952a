package com.zvk.quarnelbrisk.bdd.typed;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDFieldNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;
import java.lang.ref.Cleaner;
import java.lang.ref.Reference;
import java.math.BigInteger;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.List;
import java.util.Vector;
import java.util.function.IntBinaryOperator;
import java.util.function.IntUnaryOperator;
import java.util.function.Supplier;

/**
 * A set of tuples over one {@link Layout}, owning one reference to its diagram.
 *
 * <p>Sets are immutable: every operation returns a new set that the caller owns. {@link #close}
 * gives the reference back; a set that a program forgets is released by a {@link Cleaner} once it
 * is unreachable. Using a closed set, or one made before the engine was restarted, raises
 * {@link IllegalStateException}. Equal sets have equal diagrams, so {@link #sameTuplesAs} costs
 * nothing.
 *
 * <p>A set's diagram tests the variables of its layout's fields and no others; every operation
 * keeps it so. Operations that take two sets want them of the same engine generation.
 */
public final class TupleSet implements AutoCloseable {
    private static final Cleaner CLEANER = Cleaner.create();

    private final Engine engine;
    private final Layout layout;
    private final int handle;
    private final Cleaner.Cleanable cleanable;
    private volatile boolean closed;

    /** Takes over the one reference that {@code handle} carries. */
    TupleSet(Engine engine, Layout layout, int handle) {
        this.engine = engine;
        this.layout = layout;
        this.handle = handle;
        this.cleanable = CLEANER.register(this, new Release(handle, engine.generation()));
    }

    /**
     * Gives a reference back, unless the store it belongs to was replaced meanwhile. Holding the
     * engine's lock keeps a restart from slipping in between the test and the release.
     */
    private record Release(int handle, long generation) implements Runnable {
        @Override
        public void run() {
            synchronized (Engine.RELEASES) {
                if (Engine.isCurrent(generation)) {
                    BDDNativeProxy.doDecRefCount(handle);
                }
            }
        }
    }

    /**
     * The layout of the set's tuples.
     *
     * @return the layout
     */
    public Layout layout() {
        return layout;
    }

    /**
     * The engine that made the set.
     *
     * @return the engine
     */
    public Engine engine() {
        return engine;
    }

    /**
     * The raw handle, for use with the natives of {@link BDDNativeProxy}: borrowed, valid while
     * this set is open and its engine current.
     *
     * @return the diagram's root
     * @throws IllegalStateException when the set is closed or stale
     */
    public int handle() {
        if (closed) {
            throw new IllegalStateException("set over " + layout + " is closed");
        }
        engine.checkCurrent();
        return handle;
    }

    /**
     * Whether {@link #close} was called.
     *
     * @return true once closed
     */
    public boolean isClosed() {
        return closed;
    }

    /** Gives the reference back; later calls do nothing. */
    @Override
    public void close() {
        closed = true;
        cleanable.clean();
    }

    // ---- Set algebra -------------------------------------------------------------------------------

    /**
     * A second set of the same tuples, with a reference of its own.
     *
     * @return the copy
     */
    public TupleSet copy() {
        return derive(layout, h -> {
            BDDNativeProxy.doIncRefCount(h);
            return h;
        });
    }

    /**
     * The tuples in this set or the other.
     *
     * @param other a set of the same layout
     * @return the union
     */
    public TupleSet union(TupleSet other) {
        return combine(other, BDDNativeProxy::doUnite);
    }

    /**
     * The tuples in both sets.
     *
     * @param other a set of the same layout
     * @return the intersection
     */
    public TupleSet intersect(TupleSet other) {
        return combine(other, BDDNativeProxy::doIntersect);
    }

    /**
     * The tuples of this set that are not in the other.
     *
     * @param other a set of the same layout
     * @return the difference
     */
    public TupleSet minus(TupleSet other) {
        try (TupleSet rest = other.complement()) {
            return intersect(rest);
        }
    }

    /**
     * The tuples of the layout that are not in this set.
     *
     * @return the complement
     */
    public TupleSet complement() {
        return derive(layout, BDDNativeProxy::doComplement);
    }

    /**
     * Whether every tuple of the other set is in this one.
     *
     * @param other a set of the same layout
     * @return true when this set includes the other
     */
    public boolean contains(TupleSet other) {
        sameLayout(other);
        return fenced(other, () -> BDDNativeProxy.doSuperset(handle(), other.handle()));
    }

    /**
     * Whether a tuple is in the set.
     *
     * @param values one value per field, in the layout's order
     * @return true when it is
     */
    public boolean contains(int... values) {
        try (TupleSet one = engine.tuple(layout, values)) {
            return contains(one);
        }
    }

    /**
     * Whether both sets hold the same tuples.
     *
     * @param other a set of the same layout
     * @return true when they are equal
     */
    public boolean sameTuplesAs(TupleSet other) {
        sameLayout(other);
        return fenced(other, () -> handle() == other.handle());
    }

    /**
     * Whether the set has no tuple.
     *
     * @return true for the empty set
     */
    public boolean isEmpty() {
        return fenced(null, () -> handle() == BDDManagerNativeProxy.doGetZero());
    }

    // ---- Adding tuples -----------------------------------------------------------------------------

    /**
     * This set with one more tuple.
     *
     * @param values one value per field, in the layout's order
     * @return the new set
     */
    public TupleSet with(int... values) {
        int[] checked = Engine.checkedTuple(layout, values);
        return derive(layout, h -> BDDNativeProxy.doAddTuple(h, layout.firstVars(), layout.widths(), checked));
    }

    /**
     * This set with more tuples.
     *
     * @param tuples each one value per field, in the layout's order
     * @return the new set
     */
    public TupleSet withAll(Collection<int[]> tuples) {
        return chain(layout, tuples, (h, values) ->
                BDDNativeProxy.doAddTuple(h, layout.firstVars(), layout.widths(), Engine.checkedTuple(layout, values)));
    }

    // ---- Fields: projection, join, renaming --------------------------------------------------------

    /**
     * The set restricted to some of its fields: every other field is projected away.
     *
     * @param keep fields of this set's layout
     * @return a set over the kept fields
     */
    public TupleSet project(Field... keep) {
        List<Field> kept = Arrays.asList(keep);
        for (Field f : kept) {
            ownField(f);
        }
        List<Field> removed = new ArrayList<>(layout.fields());
        removed.removeAll(kept);
        return projectAway(removed, layout.change(removed, List.of()));
    }

    /** Quantifies the given fields away, one whole field at a time. */
    private TupleSet projectAway(List<Field> removed, Layout target) {
        return chain(target, removed, (h, f) -> BDDNativeProxy.doExists(h, f.firstVar(), f.width()));
    }

    /**
     * The relational product: the tuples of both sets that agree on every field they share, with
     * the {@code on} fields projected away. With no {@code on} field it is the natural join.
     *
     * @param other a set of the same engine
     * @param on fields of both layouts, to be projected away after the join
     * @return a set over the fields of both layouts but the {@code on} fields
     */
    public TupleSet join(TupleSet other, Field... on) {
        List<Field> joined = Arrays.asList(on);
        for (Field f : joined) {
            ownField(f);
            if (!other.layout.contains(f)) {
                throw new IllegalArgumentException("field " + f + " is not in " + other.layout);
            }
        }
        if (other.engine != engine) {
            throw new IllegalArgumentException("the sets belong to different engines");
        }
        Layout target = layout.change(joined, other.layout.fields()).change(joined, List.of());
        return fenced(other, () -> {
            if (joined.isEmpty()) {
                return result(target, BDDNativeProxy.doIntersect(handle(), other.handle()));
            }
            // The product quantifies the first field's run; further fields are projected away after.
            Field first = joined.get(0);
            try (TupleSet product = result(target,
                    BDDNativeProxy.doRelprod(handle(), other.handle(), first.firstVar(), first.width()))) {
                return product.projectAway(joined.subList(1, joined.size()), target);
            }
        });
    }

    /**
     * The set with a field's values moved to another field of the same width. The move keeps the
     * engine's variable order: no other field of the set may lie between the two.
     *
     * @param from a field of this set
     * @param to a field of the same width that the set does not have
     * @return a set over the layout with {@code from} replaced by {@code to}
     * @throws IllegalArgumentException when the widths differ, {@code to} is taken, or another field
     *     of the set lies between the two
     */
    public TupleSet rename(Field from, Field to) {
        ownField(from);
        if (to.engine() != engine || to.width() != from.width() || layout.contains(to)) {
            throw new IllegalArgumentException("cannot rename " + from + " to " + to + " in " + layout);
        }
        int low = Math.min(from.firstVar(), to.firstVar());
        int high = Math.max(from.firstVar(), to.firstVar());
        for (Field f : layout.fields()) {
            if (f != from && f.firstVar() > low && f.firstVar() < high) {
                throw new IllegalArgumentException("renaming " + from + " to " + to + " would carry it past " + f);
            }
        }
        return derive(layout.change(List.of(from), List.of(to)),
                h -> BDDNativeProxy.doRename(h, from.firstVar(), from.width(), to.firstVar() - from.firstVar()));
    }

    // ---- Counting and listing ----------------------------------------------------------------------

    /**
     * The exact number of tuples.
     *
     * @return the count, which never wraps
     */
    public BigInteger count() {
        return fenced(null, () -> new BigInteger(1,
                BDDFieldNativeProxy.doGetExactNumOfTuples(handle(), layout.fieldVars(), layout.widths())));
    }

    /**
     * The number of tuples as a long.
     *
     * @return the count
     * @throws ArithmeticException when it does not fit
     */
    public long countLong() {
        return count().longValueExact();
    }

    /**
     * Every tuple, in the engine's order: ascending by the first field, then the next, and so on.
     *
     * @return the tuples
     */
    public List<Tuple> tuples() {
        return tuples(-1, null);
    }

    /**
     * Some tuples, in the engine's order: at most {@code limit} of the smallest whose every value is
     * below its field's bound.
     *
     * @param limit most tuples to list; negative for no limit, 0 for none
     * @param bounds one exclusive upper bound per field in the layout's order, or null for none
     * @return the tuples
     */
    public List<Tuple> tuples(int limit, int[] bounds) {
        if (bounds != null && bounds.length != layout.size()) {
            throw new IllegalArgumentException(bounds.length + " bounds for the fields of " + layout);
        }
        int[] b = bounds != null ? bounds.clone() : layout.fields().stream().mapToInt(Field::size).toArray();
        if (limit == 0) {
            handle();
            return List.of();
        }
        Vector<?> listed = fenced(null,
                () -> (Vector<?>) BDDNativeProxy.doGetNTuples(handle(), layout.firstVars(), layout.widths(), b, limit));
        List<Tuple> out = new ArrayList<>(listed.size());
        for (Object values : listed) {
            out.add(new Tuple(layout, (int[]) values));
        }
        return out;
    }

    /**
     * The number of inner nodes of the set's diagram.
     *
     * @return the node count
     */
    public int nodeCount() {
        return fenced(null, () -> BDDNativeProxy.doGetNumOfNodes(handle()));
    }

    /**
     * The set's diagram as a Graphviz DOT graph: one node per diagram node, labelled with its field
     * and bit (bit 0 the least significant), dashed edges for 0 and solid ones for 1. Made from the
     * diagram stream, which empties the engine's operation cache.
     *
     * @return the DOT text
     */
    public String toDot() {
        return fenced(null, () -> Dot.render(layout, SetStreams.diagramInts(handle())));
    }

    /**
     * The set as text.
     *
     * @return the layout and the handle, or that the set is closed
     */
    @Override
    public String toString() {
        return "TupleSet" + layout + (closed ? " closed" : " #" + handle);
    }

    // ---- Helpers -----------------------------------------------------------------------------------

    /** A new set that owns the reference of a handle a native returned. */
    private TupleSet result(Layout target, int h) {
        return new TupleSet(engine, target, h);
    }

    /** The set over {@code target} that a native makes from this set's handle. */
    private TupleSet derive(Layout target, IntUnaryOperator nativeCall) {
        return fenced(null, () -> result(target, nativeCall.applyAsInt(handle())));
    }

    /** One native call per item, each on the result of the one before. */
    private interface Step<T> {
        int apply(int handle, T item);
    }

    /** The set over {@code target} that the steps make from this set; intermediates are given back. */
    private <T> TupleSet chain(Layout target, Iterable<T> items, Step<T> step) {
        return fenced(null, () -> {
            int current = handle();
            BDDNativeProxy.doIncRefCount(current);
            try {
                for (T item : items) {
                    int next = step.apply(current, item);
                    BDDNativeProxy.doDecRefCount(current);
                    current = next;
                }
            } catch (RuntimeException e) {
                BDDNativeProxy.doDecRefCount(current);
                throw e;
            }
            return result(target, current);
        });
    }

    /** The set over this layout that a native makes from this set's handle and another's. */
    private TupleSet combine(TupleSet other, IntBinaryOperator nativeCall) {
        sameLayout(other);
        return fenced(other, () -> result(layout, nativeCall.applyAsInt(handle(), other.handle())));
    }

    private void sameLayout(TupleSet other) {
        handle();
        other.handle();
        if (!other.layout.equals(layout)) {
            throw new IllegalArgumentException("layouts differ: " + layout + " and " + other.layout);
        }
        if (other.engine != engine) {
            throw new IllegalArgumentException("the sets belong to different engines");
        }
    }

    private void ownField(Field f) {
        if (!layout.contains(f)) {
            throw new IllegalArgumentException("field " + f + " is not in " + layout);
        }
    }

    /**
     * Runs a call that reads this set's handle (and the other set's, if not null), keeping both sets
     * reachable until it is over: otherwise the cleaner could queue the release of a diagram in use,
     * and a collection inside the native call could free it.
     */
    private <R> R fenced(TupleSet other, Supplier<R> call) {
        try {
            return call.get();
        } finally {
            Reference.reachabilityFence(this);
            Reference.reachabilityFence(other);
        }
    }
}
