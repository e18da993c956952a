// Test support for the tuple walks: a layout, a builder that makes the diagram of an explicit set
// of tuples straight through make-node, a reader for the Vector that listing returns, and a model
// of listing over a sorted set of tuples.
#pragma once

#include "support/TestJvm.h"

#include <cstdint>
#include <random>
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

// What listing must give for `tuples`: the tuples within the bounds, ascending, limited by
// `maxTuples`. With 0, all of them when the walk's first path reaches a tuple, else none.
std::vector<Tuple> expectedListing(const Layout& layout, const TupleSet& tuples, int32_t maxTuples);

// A random layout (1 to 4 fields of 1 to 5 bits, gaps of 0 to 2 variables, first variable 0 to 3)
// and a random set of up to `maxTuples` tuples over it; bounds from -1 to one past the field's range.
Layout randomLayout(std::mt19937& rng);
TupleSet randomTuples(std::mt19937& rng, const Layout& layout, int maxTuples);
