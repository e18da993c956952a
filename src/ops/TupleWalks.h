// Counting and listing the tuples of a set under a tuple layout (see TupleLayout.h).
//
// Both walks go field by field and bit by bit from the first variable of field 0 to the end of the
// last field. Variables in the gaps between fields are skipped: they are not counted and do not
// appear in the listed tuples. A variable of a field that the diagram leaves free stands for both of
// its values. A diagram that tests a variable the walk does not expect there (one in a gap, below
// the first field, or after the last field) is refused with the walk's own message:
// "Assert failed: BDDNativeImpl.getNumOfTuples" or "Assert failed: BDDNativeImpl.getTuples".
// Both validate the layout first ("Assert failed: Invalid tuple layout").
//
// Counting. The count is a signed 32-bit number computed modulo 2^32: `one` over fields of total
// width 31 counts -2147483648, over 32 bits 0. Every node that tests a field variable memoises its
// count (the completions from its own variable to the end of the last field) in a count entry of the
// operation cache, keyed by the node alone: callers count a family of diagrams under one layout,
// and a node counted under two layouts that differ after its variable gives the first layout's
// count while the entry lives. A count of -1 reads back as a miss and is computed again at each use.
// The layout's third array (the bounds of listing) is accepted and never read.
//
// Listing. The tuples come in ascending lexicographic order of (field 0, field 1, ...), each handed
// to a tuple sink. Only tuples whose every field value is below that field's bound are listed; a
// branch is cut as soon as the bits decided so far reach the bound. `maxTuples` >= 1 lists at most
// that many; a negative value sets no limit; 0 lists every tuple in bounds if the first branch the
// walk finishes lists one, and nothing otherwise. A sink that throws ends the walk; the error goes
// on to the caller.
//
// Edge layouts. With no fields the empty tuple is the only tuple: `zero` counts 0 and lists nothing,
// `one` counts 1 and lists the empty tuple once, and any other node is refused. A field of width 0
// takes no variable and holds the value 0 alone; it is listed when its bound is above 0.
//
// Both walks recurse once per field variable they pass (counting only once per variable the diagram
// tests) and check the stack at every level: a diagram too deep for the calling thread raises
// "Assert failed: Stack exhausted". Neither creates a node nor changes a reference count; the node
// is borrowed.
#pragma once

#include "engine/BDDNativeImpl.h"

// Steps `fieldIndex` over every field that ends at or before `curVar`, and `curVar` over the gap
// before the field reached. Returns true when `curVar` has passed the end of the last field: the
// tuple is complete. For fields of one bit or more this closes at most one field per step; a field
// of width 0 is closed the moment the walk reaches it.
inline bool passFieldEnds(int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                          int32_t& fieldIndex, int32_t& curVar) {
    while (fieldFirstVar[fieldIndex] + fieldWidth[fieldIndex] <= curVar) {
        if (fieldIndex == numFields - 1) return true;
        ++fieldIndex;
        if (fieldFirstVar[fieldIndex] > curVar) curVar = fieldFirstVar[fieldIndex];
    }
    return false;
}

// The number of completions of the variables from `curVar` (in field `fieldIndex`) to the end of the
// last field that `node` contains. `node` is not `zero`.
int32_t getNumOfTuplesWork(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                           const int32_t* fieldBound, int32_t fieldIndex, int32_t curVar);

// What stays the same through one listing walk.
struct TupleListing {
    const TupleSink& sink;
    int32_t numFields;
    const int32_t* fieldFirstVar;
    const int32_t* fieldWidth;
    const int32_t* fieldBound;
    int32_t* curValues;  // the field values of the tuple under construction
};

// Lists the tuples of `node` from `curVar` (in field `fieldIndex`) on; returns the new `remaining`,
// 0 when the limit is reached (which ends the walk).
int32_t getNTuplesWork(Node node, const TupleListing& walk, int32_t fieldIndex, int32_t curVar, int32_t remaining);
