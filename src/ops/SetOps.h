// The operations on diagrams: complement, union, intersection, inclusion, projection, relational
// product, renaming, the variable test, and the construction and insertion of tuples. Counting and
// listing, which make no node, are in ops/TupleWalks.h.
//
// The reference convention of every operation:
//   - Arguments are borrowed. An operation never takes a reference away from an argument; an
//     argument's count rises only when the operation returns it (with one reference added for the
//     caller) or when a node of the result keeps it, or a node below it, as a child.
//   - The result carries one reference for the caller, except where an operation returns a
//     terminal unchanged: the absorbing terminal of `unite` and `intersect`, `complement` of a
//     terminal, `relprod` of a `zero`, `addTuple` reaching `one`, the constructors' `one` for an
//     empty layout. Terminal counts drift and are never tested; terminals are never freed.
//   - Each recursive level hands its two cofactor results to make-node, which takes one reference
//     of each; so the recursion leaves no reference behind. While one cofactor is computed the other
//     sits in a NodeHold, so an error exit (a failing collection, "Stack exhausted", "Variable order
//     violated", "Out of memory") gives every intermediate back and leaves nothing half-built.
//   - Intermediates of `exists` and `relprod` that are not part of the answer are queued for
//     release once the call that used them has returned; with garbage collection off nothing is
//     queued.
//
// Results are canonical: equal sets give equal handles, whatever the argument order or the path of
// computation. Every non-terminal call of the algebra is memoised in the operation cache under the
// code of its operation (engine/OpCache.h), keyed by its operands as given, the first variable of its
// run, and for renaming the offset. A run of variables [firstVar, firstVar + numVars) is identified
// in the cache by its first variable alone: callers pair a given firstVar with one numVars.
// `addTuple` and `testVars` use no cache.
//
// The recursions trust their arguments. The Java natives check them once per call, through the
// entry forms below and the handle check of the JNI layer: a quantified variable, or a run with
// numVars of 1 or more, must lie within 0..32765 ("Assert failed: Invalid variable"); a run with
// numVars of 0 or less quantifies, renames and tests nothing; a rename's offset must fit
// -32768..32767 and the moved run must stay within 0..32765 ("Assert failed: Invalid variable"), and
// a rename that would break the variable order elsewhere in the diagram is refused by make-node
// ("Assert failed: Variable order violated") with every intermediate given back.
#pragma once

#include "engine/RefCounts.h"

// ---- The algebra (ops/SetOps.cpp, ops/Quantify.cpp, ops/Rename.cpp) -------------------------------
Node complement(Node n);
Node unite(Node a, Node b);
// The union of two intermediates (the merge of a quantified variable's branches), both then queued
// for release.
Node uniteAndRelease(NodeHold& lo, NodeHold& hi);
Node intersect(Node a, Node b);
// 1 when a contains every member of b; makes no node and leaves the counts of a and b alone.
int32_t superset(Node a, Node b);
Node existsVar(Node node, int32_t var);
Node exists(Node node, int32_t firstVar, int32_t numVars);
// The run quantified away from a ∩ b in one pass, a ∩ b never built.
Node relprod(Node a, Node b, int32_t firstVar, int32_t numVars);
// 1 when the diagram tests a variable of the run; leaves every mark clear.
int32_t testVars(Node node, int32_t firstVar, int32_t numVars);
// The run moved by `offset`: nodes before it are rebuilt, nodes after it shared unchanged.
Node renameVars(Node node, int32_t firstVar, int32_t numVars, int32_t offset);

// ---- Tuple construction and insertion (ops/Tuples.cpp), over a tuple layout (ops/TupleLayout.h) -----
// The set where variables x and y are equal (both free elsewhere).
Node makeEquals(int32_t x, int32_t y);
// The one tuple `value` of a single field of `width` bits from `firstVar`; `one` for a width of 0
// or less.
Node makeSingleTupleUnary(int32_t firstVar, int32_t width, int32_t value);
Node makeSingleTuple(int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                     const int32_t* fieldValue);
Node addTuple(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
              const int32_t* fieldValue);

// ---- Entry forms: the argument checks of the natives, then the operation ---------------------------
Node existsVarEntry(Node node, int32_t var);
Node existsEntry(Node node, int32_t firstVar, int32_t numVars);
Node relprodEntry(Node a, Node b, int32_t firstVar, int32_t numVars);
Node renameVarsEntry(Node node, int32_t firstVar, int32_t numVars, int32_t offset);
// Answers for the variables of the run that exist (0..32765); never refuses a run.
int32_t testVarsEntry(Node node, int32_t firstVar, int32_t numVars);

// True when the run [firstVar, firstVar + numVars) holds a variable; refuses, with "Assert failed:
// Invalid variable", a non-empty run that starts below 0 or reaches past 32766.
bool checkedRun(int32_t firstVar, int32_t numVars);
