// Counting and listing the tuples of a set under a tuple layout (ops/TupleLayout.h): the 32-bit
// count memoised in the operation cache, the exact count with a memo of its own, and the listing.
//
// The walks go field by field and bit by bit from the first variable of field 0 to the end of the
// last field. Variables in the gaps between fields are skipped: they are not counted and do not
// appear in the listed tuples. A variable of a field that the diagram leaves free stands for both of
// its values. A diagram that tests a variable the walk does not expect there (one in a gap, below
// the first field, or after the last field) is refused with the walk's own message:
// "Assert failed: BDDNativeImpl.getNumOfTuples" (both counts) or "Assert failed:
// BDDNativeImpl.getTuples". Each validates the layout first ("Assert failed: Invalid tuple layout").
// With no fields the empty tuple is the only tuple: `zero` counts 0 and lists nothing, `one` counts
// 1 and lists the empty tuple once, and any other node is refused.
//
// The walks recurse once per variable that the diagram tests along a path (listing once per field
// variable it passes) and check the stack at every level: a diagram too deep for the calling thread
// raises "Assert failed: Stack exhausted". None creates a node or changes a reference count; the
// node is borrowed.
#pragma once

#include "engine/BDDNativeImpl.h"

#include <vector>

// The 32-bit count, computed modulo 2^32: `one` over fields of total width 31 counts -2147483648,
// over 32 bits 0. Every node that tests a field variable memoises its count (the completions from
// its own variable to the end of the last field) in a count entry of the operation cache, keyed by
// the node alone: callers count a family of diagrams under one layout, and a node counted under two
// layouts that differ after its variable gives the first layout's count while the entry lives. A
// count of -1 reads back as a miss and is computed again at each use.
int32_t getNumOfTuples(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth);

// Receives each listed tuple: its `numFields` field values, readable during the call only.
struct TupleSink {
    void (*add)(void* context, const int32_t* values, int32_t numFields);
    void* context;
};

// The listing. The tuples come in ascending lexicographic order of (field 0, field 1, ...), each
// handed to the sink. Only tuples whose every field value is below that field's bound are listed; a
// branch is cut as soon as the bits decided so far reach the bound. `maxTuples` >= 1 lists at most
// that many; a negative value sets no limit; 0 lists every tuple in bounds if the first branch the
// walk finishes lists one, and nothing otherwise. A field of width 0 is listed when its bound is
// above 0. A sink that throws ends the walk; the error goes on to the caller.
void getNTuples(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                const int32_t* fieldBound, int32_t maxTuples, const TupleSink& sink);
