// The marking walks over the node graph: counting, numbering, emission, the variable test, and
// `unMark`, which clears what a walk marked.
//
// The mark protocol: `mark` is clear on every inner node between operations and set for good on
// both terminals, so every walk stops at a terminal through its mark test. A walk marks each node
// it enters before it descends from it and never clears a mark; the caller then hands the same
// roots to `unMark`. Every node a walk marked is reachable from its roots through marked nodes,
// also when the walk stopped early, so `unMark` over those roots clears all of them.
//
// The walks visit nodes in the order of a depth-first recursion that takes the low branch first,
// but keep their stack in a fixed array instead of on the machine stack: a path passes each
// variable at most once, so the stack never holds more than two entries per variable and no
// diagram is too deep for a walk. The walks allocate nothing and take no lock.
#pragma once

#include "engine/BDDNativeImpl.h"

void unMark(Node node);
// Marks, and counts, every unmarked node reachable from `node` through unmarked nodes.
int32_t evaluateReachableNodesCnt(Node node);
// Pre-order numbering: gives each unmarked inner node reachable from `node` the number
// `serializedNodeID` (then increments it), in the order of first visit.
void evaluateNodeID(Node node);
// Post-order emission of four ints per unmarked inner node reachable from `node`: number, var,
// low's number, high's number, appended at dataBuffer[bufferPos].
void serializeNode(Node node);
// 1 when a node reachable from `node` tests a variable of [firstVar, firstVar + numVars); leaves
// the marks it set for `unMark`.
int32_t doTestVars(Node node, int32_t firstVar, int32_t numVars);
