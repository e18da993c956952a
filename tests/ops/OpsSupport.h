// Helpers for the tests of the diagram algebra: tuple sets built through `addTuple`, and the count
// of inner nodes once every freed record has given its children back.
#pragma once

#include "engine/BDDNativeImpl.h"

#include <vector>

struct TestLayout {
    std::vector<int32_t> firstVar;
    std::vector<int32_t> width;
    int32_t fields() const { return static_cast<int32_t>(firstVar.size()); }
};

// The set of the given tuples (each one value per field), with one reference for the caller.
Node tupleSet(const TestLayout& layout, const std::vector<std::vector<int32_t>>& tuples);
// The single tuple, through `makeSingleTuple`.
Node singleTuple(const TestLayout& layout, const std::vector<int32_t>& values);

// True when no live inner node carries a mark (the state between operations).
bool innerMarksClear();

// Runs every queued release, then reuses every freed record through make-node (which gives up the
// references it kept on its old children) and collects again, until the number of live inner nodes
// stops falling. Returns that number: what is still held by someone.
int32_t drainedOccupied();
