package com.zvk.quarnelbrisk.bdd.typed;

import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDFieldNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDManagerNativeProxy;
import com.zvk.quarnelbrisk.bdd.nativeproxy.BDDNativeProxy;
import java.lang.ref.Cleaner;
import java.lang.ref.Reference;
import java.math.BigInteger;
import java.util.ArrayList;
import java.util.Collection;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.function.IntBinaryOperator;
import java.util.function.IntUnaryOperator;
import java.util.function.Supplier;
import java.util.function.UnaryOperator;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import java.util.stream.StreamSupport;

/**
 * A set of tuples over one {@link Layout}, owning one reference to its diagram.
 *
 * <p>Sets are immutable: every operation returns a new set that the caller owns. {@link #close}
 * gives the reference back; a set that a program forgets is released by a {@link Cleaner} once it
 * is unreachable. Using a closed set, or one made before the engine was restarted, raises
 * {@link IllegalStateException}. Equal sets have equal diagrams, so {@link #sameTuplesAs} costs
 * nothing, and {@link #equals} is exact: two open sets of one engine generation are equal when
 * they have the same layout and the same tuples.
 *
 * <p>In loops that replace a set by the next one, the consuming variants {@link #unionWith},
 * {@link #intersectWith}, {@link #minusWith} and {@link #then} close the set they are asked of once
 * the result is made, so that only the sets a program keeps need closing by hand:
 *
 * <pre>{@code
 * TupleSet reached = start.copy();                 // over (x); edges over (x, y)
 * TupleSet fresh = start.copy();
 * while (!fresh.isEmpty()) {
 *     fresh = fresh.then(f -> f.join(edges, x)).then(j -> j.rename(y, x)).minusWith(reached);
 *     reached = reached.unionWith(fresh);
 * }
 * fresh.close();
 * }</pre>
 *
 * <p>A set's diagram tests the variables of its layout's fields and no others, and holds values of
 * each field's domain only; every operation keeps it so. Sets over the same fields combine whatever
 * the order of their layouts, and a result takes the layout of the set it was asked of. Operations
 * that take two sets want them of the same engine generation.
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
        return relabelled(layout);
    }

    /**
     * The tuples in this set or the other.
     *
     * @param other a set over the same fields, in any order
     * @return the union, over this set's layout
     */
    public TupleSet union(TupleSet other) {
        return combine(other, BDDNativeProxy::doUnite);
    }

    /**
     * The tuples in both sets.
     *
     * @param other a set over the same fields, in any order
     * @return the intersection, over this set's layout
     */
    public TupleSet intersect(TupleSet other) {
        return combine(other, BDDNativeProxy::doIntersect);
    }

    /**
     * The tuples of this set that are not in the other.
     *
     * @param other a set over the same fields, in any order
     * @return the difference, over this set's layout
     */
    public TupleSet minus(TupleSet other) {
        return combine(other, (h, o) -> BDDFieldNativeProxy.doIte(o, BDDManagerNativeProxy.doGetZero(), h));
    }

    /**
     * The tuples of the layout that are not in this set: the values of each field stay inside its
     * domain.
     *
     * @return the complement
     */
    public TupleSet complement() {
        return derive(layout, h -> engine.withinDomains(layout, BDDNativeProxy.doComplement(h)));
    }

    /**
     * Whether every tuple of the other set is in this one.
     *
     * @param other a set over the same fields, in any order
     * @return true when this set includes the other
     */
    public boolean contains(TupleSet other) {
        sameFields(other);
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
     * @param other a set over the same fields, in any order
     * @return true when they are equal
     */
    public boolean sameTuplesAs(TupleSet other) {
        sameFields(other);
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

    /**
     * Sets are equal when both are open, of the same engine generation and layout, and hold the same
     * tuples (then their diagrams are one). A closed set equals only itself. Never calls the engine.
     *
     * @param o another object
     * @return true for an equal set
     */
    @Override
    public boolean equals(Object o) {
        return o == this || o instanceof TupleSet t && !closed && !t.closed && t.engine == engine && t.handle == handle
                && t.layout.equals(layout);
    }

    /**
     * A hash of layout and diagram, which stays the same when the set is closed.
     *
     * @return the hash code
     */
    @Override
    public int hashCode() {
        return 31 * layout.hashCode() + handle;
    }

    // ---- Consuming variants --------------------------------------------------------------------------

    /**
     * The union, as {@link #union}, after which this set is closed (unless the union failed; then it
     * stays as it was).
     *
     * @param other a set over the same fields, in any order; stays open
     * @return the union, over this set's layout
     */
    public TupleSet unionWith(TupleSet other) {
        return then(s -> s.union(other));
    }

    /**
     * The intersection, as {@link #intersect}, after which this set is closed (unless the
     * intersection failed).
     *
     * @param other a set over the same fields, in any order; stays open
     * @return the intersection, over this set's layout
     */
    public TupleSet intersectWith(TupleSet other) {
        return then(s -> s.intersect(other));
    }

    /**
     * The difference, as {@link #minus}, after which this set is closed (unless the difference
     * failed).
     *
     * @param other a set over the same fields, in any order; stays open
     * @return the tuples of this set not in the other, over this set's layout
     */
    public TupleSet minusWith(TupleSet other) {
        return then(s -> s.minus(other));
    }

    /**
     * The set that {@code step} makes of this one, after which this set is closed, unless
     * {@code step} returned it or failed: in {@code s.join(t, x).then(j -> j.rename(y, x))} the join
     * is closed once renamed.
     *
     * @param step an operation on this set
     * @return what {@code step} returned
     */
    public TupleSet then(UnaryOperator<TupleSet> step) {
        TupleSet next = step.apply(this);
        if (next != this) {
            close();
        }
        return next;
    }

    // ---- Adding tuples -----------------------------------------------------------------------------

    /**
     * This set with one more tuple.
     *
     * @param values one value per field, in the layout's order, each in its field's domain
     * @return the new set
     */
    public TupleSet with(int... values) {
        return withAll(List.of(values));
    }

    /**
     * This set with more tuples, added in one pass over them.
     *
     * @param tuples each one value per field, in the layout's order, each in its field's domain
     * @return the new set
     */
    public TupleSet withAll(Collection<int[]> tuples) {
        int[] values = new int[tuples.size() * layout.size()];
        int at = 0;
        for (int[] t : tuples) {
            System.arraycopy(Engine.checkedTuple(layout, t), 0, values, at, t.length);
            at += t.length;
        }
        if (tuples.isEmpty()) {
            return copy();
        }
        return derive(layout, h -> BDDFieldNativeProxy.doAddTuples(h, layout.fieldVars(), layout.widths(), values));
    }

    // ---- Fields: projection, join, renaming --------------------------------------------------------

    /**
     * The set restricted to some of its fields: every other field is projected away (existential
     * quantification over all their variables at once).
     *
     * @param keep fields of this set's layout
     * @return a set over the kept fields, in the order given
     */
    public TupleSet project(Field... keep) {
        Layout target = engine.layout(keep);
        for (Field f : keep) {
            ownField(f);
        }
        List<Field> removed = layout.fields().stream().filter(f -> !target.contains(f)).toList();
        if (removed.isEmpty()) {
            return relabelled(target);
        }
        int[] vars = Layout.varsOf(removed);
        return derive(target, h -> BDDFieldNativeProxy.doExistsSet(h, engine.cube(vars)));
    }

    /**
     * The relational product: the tuples of both sets that agree on every field they share, with
     * the {@code on} fields projected away, in one pass. With no {@code on} field it is the natural
     * join.
     *
     * @param other a set of the same engine
     * @param on fields of both layouts, to be projected away after the join
     * @return a set over this set's fields and then the other's that are new, less the {@code on}
     *     fields
     */
    public TupleSet join(TupleSet other, Field... on) {
        List<Field> joined = engine.layout(on).fields();
        for (Field f : joined) {
            ownField(f);
            if (!other.layout.contains(f)) {
                throw new IllegalArgumentException("field " + f + " is not in " + other.layout);
            }
        }
        if (other.engine != engine) {
            throw new IllegalArgumentException("the sets belong to different engines");
        }
        Layout target = layout.change(joined, other.layout.fields());
        if (joined.isEmpty()) {
            return fenced(other, () -> result(target, BDDNativeProxy.doIntersect(handle(), other.handle())));
        }
        int[] vars = Layout.varsOf(joined);
        return fenced(other, () -> result(target,
                BDDFieldNativeProxy.doRelprodSet(handle(), other.handle(), engine.cube(vars))));
    }

    /**
     * The set with a field's values moved to another field; the same as
     * {@link #rename(Map) rename(Map.of(from, to))}.
     *
     * @param from a field of this set
     * @param to a field of the same width, with a domain at least as large, that the set does not have
     * @return a set over the layout with {@code from} replaced by {@code to} in its place
     * @throws IllegalArgumentException when the widths differ, {@code to} is too small or taken
     */
    public TupleSet rename(Field from, Field to) {
        return rename(Map.of(from, to));
    }

    /**
     * The set with the values of some fields moved to other fields, all at once: the fields may be
     * renamed in any order, onto each other, past other fields, anywhere.
     *
     * <p>Each target takes its source's place in the layout. So a swap of the two fields of a
     * relation over {@code (a, b)} holding {@code (a=1, b=2)} gives the transposed relation over
     * {@code (b, a)}, holding {@code (b=1, a=2)}: the tuple a=2, b=1. Its values stand where they
     * stood; {@code project(a, b)} of it lists the same set over {@code (a, b)}, as {@code (2, 1)}.
     *
     * @param renaming each source field of this set to its target, of the same width and with a
     *     domain at least as large; targets distinct, and each either outside the layout or itself
     *     renamed away
     * @return a set over this set's layout with each field replaced by its target in its place
     * @throws IllegalArgumentException for a source outside the layout, a target of another width
     *     or of a smaller domain, or two sources onto one target, or a target that stays in the layout
     */
    public TupleSet rename(Map<Field, Field> renaming) {
        List<Field> next = new ArrayList<>(layout.fields());
        List<Field> sources = new ArrayList<>();
        List<Field> targets = new ArrayList<>();
        if (new HashSet<>(renaming.values()).size() != renaming.size()) {
            throw new IllegalArgumentException("two fields renamed to one: " + renaming);
        }
        renaming.forEach((f, t) -> {
            ownField(f);
            if (t.engine() != engine || t.width() != f.width() || t.size() < f.size()) {
                throw new IllegalArgumentException("cannot rename " + f + " to " + t
                        + ": a target needs the same width and a domain at least as large");
            }
            if (layout.contains(t) && !renaming.containsKey(t)) {
                throw new IllegalArgumentException("cannot rename " + f + " to " + t + ", which stays in " + layout);
            }
            next.set(layout.indexOf(f), t);
            if (f != t) {
                sources.add(f);
                targets.add(t);
            }
        });
        Layout target = Layout.of(engine, next);
        if (sources.isEmpty()) {
            return relabelled(target);
        }
        int[] from = Layout.varsOf(sources);
        int[] to = Layout.varsOf(targets);
        return derive(target, h -> BDDFieldNativeProxy.doReplace(h, engine.map(from, to)));
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
     * Every tuple, in the listing order (see {@link #tuples(int, int[])}). For a set of any size,
     * {@link #stream} lists as many as are used, in bounded memory.
     *
     * @return the tuples
     */
    public List<Tuple> tuples() {
        return tuples(-1, null);
    }

    /**
     * Some tuples: at most {@code limit} of the first whose every value is below its field's bound,
     * each with its values in the layout's order.
     *
     * <p>The listing order is the order of the variables: of two tuples, the one whose bit at the
     * lowest variable where they differ is 0 comes first. Whatever the layout's order, the fields'
     * variables decide it. For fields on runs of their own, given in the layout in the order they
     * were declared, this is the lexicographic order of the tuples, the first field first; for
     * interleaved fields it compares their most significant bits first, then the next bits, and so on.
     *
     * @param limit most tuples to list; negative for no limit, 0 for none
     * @param bounds one exclusive upper bound per field in the layout's order, each 0 or more, or
     *     null for none
     * @return the tuples, in a list of the caller's
     * @throws IllegalArgumentException for bounds of another number than the fields, or a negative one
     */
    public List<Tuple> tuples(int limit, int[] bounds) {
        return listing(Listing.checkedBounds(layout, bounds), null, limit < 0 ? Long.MAX_VALUE : limit)
                .collect(Collectors.toCollection(ArrayList::new));
    }

    /**
     * Every tuple, lazily, in the listing order (see {@link #tuples(int, int[])}): the engine lists
     * them page by page (4096 tuples at a time) as the stream is consumed, each page from where the
     * one before ended, so memory is bounded by the page, not by the set. The set must stay open
     * while the stream is used (a closed set refuses the next page with an
     * {@link IllegalStateException}); the stream keeps it reachable meanwhile.
     *
     * @return the tuples, ordered and distinct
     */
    public Stream<Tuple> stream() {
        return listing(null, null, Long.MAX_VALUE);
    }

    /**
     * The tuples from a given one on, lazily, in the listing order, as {@link #stream} lists them:
     * {@code start} itself if the set holds it, then every tuple that comes after it. For fields on
     * runs in the order they were declared this is every tuple at or above {@code start}
     * lexicographically; for interleaved fields the order compares their bits alternately, so
     * {@code streamFrom(5, 0)} over {@code (from, to)} lists every tuple whose {@code from} is 5 or
     * more, mixed with others such as {@code (4, 7)} and {@code (0, 1 << 19)}, and not in the order
     * of {@code from}. To bound one field, list a range of it:
     * {@code s.intersect(engine.range(from, 5, from.size() - 1)).stream()}, or
     * {@code s.join(engine.tuple(engine.layout(from), 5))} for one value.
     *
     * @param start one value per field, in the layout's order, each in its field's domain
     * @return the tuples from {@code start} on
     * @throws IllegalArgumentException when {@code start} is not a tuple of the layout
     */
    public Stream<Tuple> streamFrom(int... start) {
        return listing(null, Engine.checkedTuple(layout, start), Long.MAX_VALUE);
    }

    /**
     * One tuple of the set: the first of the listing order.
     *
     * @return the tuple, or nothing for the empty set
     */
    public Optional<Tuple> anyTuple() {
        return listing(null, null, 1).findFirst();
    }

    private Stream<Tuple> listing(int[] bounds, int[] start, long limit) {
        handle();
        return StreamSupport.stream(new Listing(this, bounds, start, limit), false);
    }

    /** A page of the listing: the count, then the values of each tuple. */
    int[] page(int[] bounds, int[] start, boolean after, int max) {
        return fenced(null, () -> BDDFieldNativeProxy.doListTuples(handle(), layout.fieldVars(), layout.widths(), bounds,
                start, after, max));
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
     * and bit (bit 0 the least significant), dashed edges for 0 and solid ones for 1. The engine's
     * operation cache keeps its entries.
     *
     * @return the DOT text
     */
    public String toDot() {
        return fenced(null, () -> Dot.render(layout, BDDFieldNativeProxy.doDescribe(new int[] {handle()})));
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

    /** The same diagram with a reference of its own, as a set over {@code target}. */
    private TupleSet relabelled(Layout target) {
        return derive(target, h -> {
            BDDNativeProxy.doIncRefCount(h);
            return h;
        });
    }

    /** The set over this layout that a native makes from this set's handle and another's. */
    private TupleSet combine(TupleSet other, IntBinaryOperator nativeCall) {
        sameFields(other);
        return fenced(other, () -> result(layout, nativeCall.applyAsInt(handle(), other.handle())));
    }

    private void sameFields(TupleSet other) {
        handle();
        other.handle();
        if (!other.layout.sameFields(layout)) {
            throw new IllegalArgumentException("the fields differ: " + layout + " and " + other.layout);
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
     * and a collection inside the native call could free it. A cancelled call raises
     * {@link java.util.concurrent.CancellationException}.
     */
    private <R> R fenced(TupleSet other, Supplier<R> call) {
        try {
            return Engine.guarded(call);
        } finally {
            Reference.reachabilityFence(this);
            Reference.reachabilityFence(other);
        }
    }
}
