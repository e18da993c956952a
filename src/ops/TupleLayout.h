// The tuple layout: how a tuple of small non-negative integers lies over the diagram variables,
// and how the walks over a layout pass from field to field.
//
// Field f occupies the variables fieldFirstVar[f] .. fieldFirstVar[f] + fieldWidth[f] - 1, most
// significant bit at the lowest variable: bit i of a value lies at variable
// fieldFirstVar[f] + fieldWidth[f] - 1 - i. A variable that is 1 selects a node's `high` child.
// Fields lie in increasing order without overlap; gaps between them are allowed and stay free in
// every constructed set. Widths are 0 to 31 bits (bit 31 of a value never counts as set); a field
// of width 0 takes no variable and holds the value 0 alone.
#pragma once

#include "engine/BDDNativeImpl.h"

// A layout as the walks read it: the number of fields and the first variable and width of each.
struct TupleLayout {
    int32_t numFields;
    const int32_t* fieldFirstVar;
    const int32_t* fieldWidth;
};

// Bit i of value, counted as set when (1 << i) AND value is greater than zero as a signed int.
inline bool fieldBitSet(int32_t value, int32_t i) {
    return static_cast<int32_t>((1u << i) & static_cast<uint32_t>(value)) > 0;
}

// Refuses a layout that breaks the rules above, or reaches variable 32766 or beyond, with
// "Assert failed: Invalid tuple layout".
void validateTupleLayout(int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth);

// How a walk over the tuples of a set under a layout begins: `zero` holds no tuple; with no fields
// the empty tuple is the only tuple, held by `one` alone; otherwise the walk starts at the first
// variable of field 0.
enum class TupleWalkStart { noTuple, emptyTuple, walk };
// Validates the layout and says how the walk begins; with no fields a node other than `zero` and
// `one` tests a variable outside the layout and is refused with `outsideLayout`, the walk's own
// message.
TupleWalkStart startTupleWalk(Node node, const TupleLayout& layout, const char* outsideLayout);

// Steps `fieldIndex` over every field that ends at or before `curVar`, and `curVar` over the gap
// before the field reached. Returns true when `curVar` has passed the end of the last field: the
// tuple is complete. For fields of one bit or more this closes at most one field per step; a field
// of width 0 is closed the moment the walk reaches it.
inline bool passFieldEnds(const TupleLayout& layout, int32_t& fieldIndex, int32_t& curVar) {
    while (layout.fieldFirstVar[fieldIndex] + layout.fieldWidth[fieldIndex] <= curVar) {
        if (fieldIndex == layout.numFields - 1) return true;
        ++fieldIndex;
        if (layout.fieldFirstVar[fieldIndex] > curVar) curVar = layout.fieldFirstVar[fieldIndex];
    }
    return false;
}
