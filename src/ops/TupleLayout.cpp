// The checks of a tuple layout, and the opening that the tuple walks share.
#include "ops/TupleLayout.h"

void validateTupleLayout(int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth) {
    int64_t end = 0;  // first variable after the previous field
    for (int32_t f = 0; f < numFields; ++f) {
        const int64_t first = fieldFirstVar[f];
        const int64_t width = fieldWidth[f];
        if (width < 0 || width > 31 || first < end || first + width > zeroVar)
            throwException(msgInvalidLayout);
        end = first + width;
    }
}

TupleWalkStart startTupleWalk(Node node, const TupleLayout& layout, const char* outsideLayout) {
    validateTupleLayout(layout.numFields, layout.fieldFirstVar, layout.fieldWidth);
    if (node == manager.zero) return TupleWalkStart::noTuple;
    if (layout.numFields > 0) return TupleWalkStart::walk;
    if (node != manager.one) throwException(outsideLayout);
    return TupleWalkStart::emptyTuple;
}
