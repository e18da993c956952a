// Test support for the tuple walks: a layout, a builder that makes the diagram of an explicit set
// of tuples straight through make-node, and a reader for the Vector that listing returns.
#pragma once

#include "support/TestJvm.h"

#include <cstdint>
#include <set>
#include <vector>

using Tuple = std::vector<int32_t>;
using TupleSet = std::set<Tuple>;  // ordered as listing orders tuples

struct Layout {
    std::vector<int32_t> first;
    std::vector<int32_t> width;
    std::vector<int32_t> bound;  // the third array
    int32_t numFields() const { return static_cast<int32_t>(first.size()); }
};

// The diagram whose field assignments are exactly `tuples` (values masked to their widths); gap
// variables stay free. Carries one reference, as an operation's result.
Node buildSet(const Layout& layout, const TupleSet& tuples);

// Copies the int arrays of a Vector and deletes its local reference.
std::vector<Tuple> readVector(jobject vector);

// Lists `node` through getNTuples and reads the result.
std::vector<Tuple> listTuples(Node node, const Layout& layout, int32_t maxTuples);
