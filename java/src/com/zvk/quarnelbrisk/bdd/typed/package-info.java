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
 *   <li>No foreign objects from a stream. Loading accepts int arrays and nothing else.</li>
 * </ul>
 *
 * <p>As with the raw natives, one thread at a time drives the engine; the
 * {@link com.zvk.quarnelbrisk.bdd.typed.Progress} callbacks of saving and loading must not call it.
 */
package com.zvk.quarnelbrisk.bdd.typed;
