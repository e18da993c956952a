// A description of diagrams in the diagram stream's format, made without writing a stream: the
// nodes are numbered in a table of the walk's own, so their stamps stay as they are and the
// operation cache keeps every entry. Pictures and checks of a few diagrams use it.
#pragma once

#include "engine/BDDNativeImpl.h"

#include <span>
#include <vector>

// The ints that the stream writer would write for `roots` (checked live handles): [R, N], the
// records (number, var, lowNumber, highNumber) in post-order, the root numbers. Changes nothing.
std::vector<int32_t> describeDiagrams(std::span<const Node> roots);
