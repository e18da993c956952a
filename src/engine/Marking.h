// The marking walks over the node graph, and the mark protocol they keep.
//
// The mark protocol: `mark` is clear on every inner node between operations and set for good on
// both terminals, so every walk stops at a terminal through its mark test. A walk marks each node
// it enters before it descends from it and never clears a mark; the caller then hands the same
// roots to `unMark` (`UnmarkOnExit` does so on every exit). Every node a walk marked is reachable
// from its roots through marked nodes, also when the walk stopped early, so `unMark` over those
// roots clears all of them. The stream's writer (serial/) numbers nodes by the same protocol.
//
// The walks visit nodes in the order of a depth-first recursion that takes the low branch first,
// but keep their stack in a `WalkStack` instead of on the machine stack, so no diagram is too deep
// for them. They allocate nothing and take no lock, and two walks never overlap (one native call
// runs at a time). The store's records are scattered over a range much larger than the caches, so
// a walk mostly waits for memory: the walks fetch a node's children as soon as they know them.
#pragma once

#include "engine/BDDNativeImpl.h"

// The stack of a walk. A path passes each variable at most once, so a walk that pushes the two
// children of each node it enters never holds more than two entries per variable; a push beyond
// that can only come from a broken variable order ("Assert failed: Variable order violated").
// Large: a walk keeps one in static storage, whose pages cost nothing until a deep walk touches
// them. The top lives with the walk, in a local.
template <class Entry>
struct WalkStack {
    static constexpr int capacity = 2 * (oneVar + 1) + 16;
    Entry at[capacity];

    void push(int& top, const Entry& e) {
        if (top == capacity) [[unlikely]] throwException(msgVariableOrder);
        at[top++] = e;
    }
};

// Clears the marks of the marked inner part of the diagram below `node`.
void unMark(Node node);

// Clears the marks below `root` when the walk ends, on every exit.
struct UnmarkOnExit {
    Node root;
    explicit UnmarkOnExit(Node n) : root(n) {}
    UnmarkOnExit(const UnmarkOnExit&) = delete;
    UnmarkOnExit& operator=(const UnmarkOnExit&) = delete;
    ~UnmarkOnExit() { unMark(root); }
};

// Marks, and counts, every unmarked node reachable from `node` through unmarked nodes.
int32_t evaluateReachableNodesCnt(Node node);
// The number of inner nodes reachable from `node`; leaves every mark clear.
int32_t nodeCount(Node node);

// 1 when a node reachable from `node` tests a variable of [firstVar, firstVar + numVars); leaves
// the marks it set for `unMark`.
int32_t doTestVars(Node node, int32_t firstVar, int32_t numVars);
