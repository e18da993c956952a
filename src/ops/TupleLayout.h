// The tuple layout: how a tuple of small non-negative integers lies over the diagram variables.
//
// Field f occupies the variables fieldFirstVar[f] .. fieldFirstVar[f] + fieldWidth[f] - 1, most
// significant bit at the lowest variable: bit i of a value lies at variable
// fieldFirstVar[f] + fieldWidth[f] - 1 - i. A variable that is 1 selects a node's `high` child.
// Fields lie in increasing order without overlap; gaps between them are allowed and stay free in
// every constructed set. Widths are 0 to 31 bits (bit 31 of a value never counts as set).
#pragma once

#include "engine/BDDNativeImpl.h"

// Bit i of value, counted as set when (1 << i) AND value is greater than zero as a signed int.
inline bool fieldBitSet(int32_t value, int32_t i) {
    return static_cast<int32_t>((1u << i) & static_cast<uint32_t>(value)) > 0;
}

// Refuses a layout that breaks the rules above, or reaches variable 32766 or beyond, with
// "Assert failed: Invalid tuple layout".
void validateTupleLayout(int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth);
