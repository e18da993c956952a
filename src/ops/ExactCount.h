// Exact tuple counts: the number of tuples of a set under a tuple layout (see TupleLayout.h), as an
// unsigned integer of any size, so that it never wraps.
//
// The count is what the 32-bit count of TupleWalks.h computes modulo 2^32: the distinct
// assignments of the field variables that the set contains; gap variables are not counted; a
// diagram that tests a variable in a gap, below the first field or after the last field is refused
// with "Assert failed: BDDNativeImpl.getNumOfTuples", and a broken layout with "Assert failed:
// Invalid tuple layout". With no fields `zero` counts 0, `one` counts 1, and any other node is
// refused.
//
// Unlike that count, this one keeps its memo to itself: every node's count (the completions from
// its own variable to the end of the last field) lives in a table made for one call and dropped at
// its end. The operation cache is neither read nor written, so a node counted earlier under another
// layout can never answer for this one. The table is indexed by handle and zeroed lazily by the
// system (pages of it that the walk never touches cost nothing), so a small set in a large store
// pays for its own nodes only.
//
// The walk recurses once per variable that the diagram tests along a path and checks the stack at
// every level ("Assert failed: Stack exhausted"). It creates no node and changes no reference count;
// the node is borrowed.
#pragma once

#include "engine/BDDNativeImpl.h"

#include <cstdint>
#include <vector>

// The count as 32-bit limbs, least significant first, without leading zero limbs (0 is empty).
std::vector<uint32_t> exactNumOfTuples(Node node, int32_t numFields, const int32_t* fieldFirstVar,
                                       const int32_t* fieldWidth);
