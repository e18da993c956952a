/**
 * Typed tuple sets over the engine: the library a Java program is meant to use.
 *
 * <p>An {@link com.zvk.quarnelbrisk.bdd.typed.Engine} starts the process-wide store with named
 * settings and declares {@link com.zvk.quarnelbrisk.bdd.typed.Field}s by name: of a width, on a run
 * of variables of their own ({@code field}); of any number of values ({@code domain}); or several of
 * one width whose bits alternate ({@code interleaved}), which is what relations between them want.
 * A {@link com.zvk.quarnelbrisk.bdd.typed.Layout} is a list of fields in the caller's order, and a
 * {@link com.zvk.quarnelbrisk.bdd.typed.TupleSet} is a set of tuples over one layout that owns its
 * one reference to the diagram.
 *
 * <pre>{@code
 * Engine engine = Engine.start();
 * List<Field> xy = engine.interleaved(16, "x", "y");
 * Field x = xy.get(0), y = xy.get(1);
 * try (TupleSet next = engine.plus(x, y, 1);                      // y = x + 1, 77 nodes
 *      TupleSet back = next.rename(Map.of(x, y, y, x));           // the transposed relation
 *      TupleSet some = engine.tuple(engine.layout(y, x), 3, 2)) {  // (y=3, x=2)
 *     next.contains(some);                                        // true: fields in any order
 *     back.tuples(2, null);                                       // [(y=0, x=1), (y=1, x=2)]
 * }
 * }</pre>
 *
 * <p><b>Order.</b> A tuple's values follow its layout's order, wherever the fields' variables lie:
 * {@code engine.layout(b, a)} builds, lists and prints tuples as {@code (b, a)}. Sets over the same
 * fields combine in any order of their layouts, and a result takes the layout of the set it was
 * asked of. Listings come in the order of the variables: of two tuples, the one whose bit at the
 * lowest variable where they differ is 0 comes first. For fields on runs given in the order they
 * were declared this is the lexicographic order, the first field first.
 *
 * <p><b>Domains.</b> A field holds the values 0 to {@link com.zvk.quarnelbrisk.bdd.typed.Field#size}
 * − 1. No set of the layer holds another: tuples refuse such values, and {@code all}, {@code
 * complement} and the builders keep to every field's domain.
 *
 * <p><b>Listing.</b> {@link com.zvk.quarnelbrisk.bdd.typed.TupleSet#stream} lists a set lazily, a
 * page of 4096 tuples at a time, each page from where the one before ended, so memory is bounded by
 * the page whatever the size of the set; {@code streamFrom(start)} begins at a given tuple and
 * {@code anyTuple()} gives the first. {@code tuples()} collects a whole listing.
 *
 * <p><b>Equality and loops.</b> Two open sets of one engine generation are
 * {@link com.zvk.quarnelbrisk.bdd.typed.TupleSet#equals equal} when their layouts and diagrams
 * are; {@code sameTuplesAs} ignores the order of the layouts. In a loop that replaces a set by the
 * next one, {@code unionWith}, {@code intersectWith}, {@code minusWith} and {@code then} close the
 * set they are asked of once the result is made:
 *
 * <pre>{@code
 * delta = delta.then(d -> d.join(edges, dep)).then(r -> r.rename(via, dep)).minusWith(closure);
 * closure = closure.unionWith(delta);
 * }</pre>
 *
 * <p><b>Watching and cancelling.</b> Within {@link com.zvk.quarnelbrisk.bdd.typed.Engine#watch} the
 * long operations (set algebra, projection, join, renaming, adding tuples, counting, listing) report
 * the nodes they make, and {@link com.zvk.quarnelbrisk.bdd.typed.Engine.Watch#cancel} stops them
 * from any thread, as does a time limit; the operation raises a
 * {@link java.util.concurrent.CancellationException} and leaves nothing behind.
 *
 * <p><b>Files.</b> {@link com.zvk.quarnelbrisk.bdd.typed.Engine#save} writes a versioned file with
 * a CRC-32C checksum; {@link com.zvk.quarnelbrisk.bdd.typed.Engine#load} checks all of it before it
 * builds a node and refuses every damaged, foreign or mismatched file with an
 * {@link com.zvk.quarnelbrisk.bdd.typed.InvalidSetFileException}. Files of the formats before still
 * load.
 *
 * <p><b>Figures and leaks.</b> {@link com.zvk.quarnelbrisk.bdd.typed.Engine#stats} gives the
 * store's figures as numbers; {@link com.zvk.quarnelbrisk.bdd.typed.Engine#drain} frees everything no
 * open set reaches, after which the live nodes are exactly those the open sets reach: the way to
 * check a program for leaks.
 *
 * <p><b>Refusals.</b> The layer checks what it can see before the engine runs, and each method says
 * what it refuses: {@link java.lang.IllegalArgumentException} for values, fields, layouts, bounds
 * and settings that do not fit; {@link java.lang.NullPointerException} for a null name;
 * {@link java.lang.IllegalStateException} for a closed or stale set, a second watch, variables used
 * up; {@link java.lang.ArithmeticException} for {@code countLong} beyond a long. A refused call
 * changes nothing.
 *
 * <p>What the layer guarantees beyond the raw natives of
 * {@link com.zvk.quarnelbrisk.bdd.nativeproxy}:
 * <ul>
 *   <li>No answer from another run or layout. The engine's first operations know a run of
 *       variables by its first variable alone, and a node's 32-bit count by the node alone. The
 *       layer uses none of them: it quantifies and joins over variable sets (diagrams that the
 *       engine keeps for the generation, so that the operation cache keeps knowing them), renames by
 *       registered variable maps, and counts through a native whose memo lives for one call,
 *       exactly, as a {@link java.math.BigInteger}.</li>
 *   <li>No stale handles. Every set remembers the engine generation that made it; after a restart
 *       it refuses use with an {@link java.lang.IllegalStateException}.</li>
 *   <li>No lost or doubled references. A set releases its reference once, on
 *       {@link com.zvk.quarnelbrisk.bdd.typed.TupleSet#close} or, if a program forgets, from a
 *       {@link java.lang.ref.Cleaner} thread; the engine is always started with a collection rate
 *       above 0, which is what makes such releases safe while the engine computes.</li>
 *   <li>No foreign objects from a file. Loading reads its own format, and in the formats before
 *       builds int arrays and nothing else.</li>
 * </ul>
 *
 * <p>As with the raw natives, one thread at a time drives the engine; the
 * {@link com.zvk.quarnelbrisk.bdd.typed.Progress} callbacks of saving, loading and watches must not
 * call it. Releases ({@code close}, the cleaner) and {@code Watch.cancel} may come from any thread.
 */
package com.zvk.quarnelbrisk.bdd.typed;
