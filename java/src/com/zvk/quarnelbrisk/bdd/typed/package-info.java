/**
 * Typed tuple sets over the engine: the library a Java program is meant to use.
 *
 * <p>An {@link com.zvk.quarnelbrisk.bdd.typed.Engine} starts the process-wide store with named
 * settings and places {@link com.zvk.quarnelbrisk.bdd.typed.Field}s, declared once by name and width,
 * on runs of variables of their own. A {@link com.zvk.quarnelbrisk.bdd.typed.Layout} is a set of
 * fields in the engine's order, and a {@link com.zvk.quarnelbrisk.bdd.typed.TupleSet} is a set of
 * tuples over one layout that owns its one reference to the diagram.
 *
 * <p>What the layer guarantees beyond the raw natives of
 * {@link com.zvk.quarnelbrisk.bdd.nativeproxy}:
 * <ul>
 *   <li>No answer from another run or layout. The engine's operation cache knows a run of
 *       variables by its first variable alone, and a node's 32-bit count by the node alone. The
 *       layer quantifies, joins and renames only whole fields, so a first variable always comes
 *       with the same length; and it counts through a native of its own whose memo lives for one
 *       call, exactly, as a {@link java.math.BigInteger}.</li>
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
