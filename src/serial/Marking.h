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
//
// The store's records are scattered over a range much larger than the caches, so a walk mostly
// waits for memory: the walks fetch a node's children as soon as they know them.
#pragma once

#include "engine/BDDNativeImpl.h"

void unMark(Node node);
// Marks, and counts, every unmarked node reachable from `node` through unmarked nodes.
int32_t evaluateReachableNodesCnt(Node node);

// The writer's copy of a numbered node, kept at index number - 2: its handle, its variable and
// the numbers of its children. Numbering fills it while it reads the node anyway, so that clearing
// the marks and emitting the records need not chase the store's pointers again: the marks are
// cleared along the list (every marked node is on it, and only those), and emission walks the
// copy in exactly the order in which it would walk the store.
struct NumberedNode {
    Node handle;
    int32_t var;
    int32_t low;
    int32_t high;
};

// Room for the copies: `capacity` nodes, of which the first `ready` have their pages faulted in.
struct NumberedNodes {
    NumberedNode* nodes;
    int64_t ready;
    int64_t capacity;
};

// Pre-order numbering: gives each unmarked inner node reachable from `node` the number
// `serializedNodeID` (then increments it), in the order of first visit, and records it in
// `numbered` (a node beyond its capacity raises "Out of memory" and marks nothing).
void evaluateNodeID(Node node, NumberedNodes& numbered);
// Clears the marks of the first `count` numbered nodes.
void unMarkNumbered(const NumberedNode* numbered, int64_t count);
// Post-order emission of four ints per inner node reachable from the node with number `number`
// that has no record yet: number, var, low's number, high's number, appended at
// dataBuffer[bufferPos]. `emitted` (one flag per numbered node, index number - 2) stands in for
// the marks of the store's walk.
void serializeNode(int32_t number, const NumberedNode* numbered, uint8_t* emitted);
// 1 when a node reachable from `node` tests a variable of [firstVar, firstVar + numVars); leaves
// the marks it set for `unMark`.
int32_t doTestVars(Node node, int32_t firstVar, int32_t numVars);
