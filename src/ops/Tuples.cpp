// Tuple construction: the set where two variables are equal, and sets of one tuple.
//
// The constructors hand `zero` and `one` to make-node without adding a reference first, so the
// terminal counts drift with every construction; the terminals are never freed.
#include "ops/TupleLayout.h"

void validateTupleLayout(int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth) {
    int64_t end = 0;  // first variable after the previous field
    for (int32_t f = 0; f < numFields; ++f) {
        const int64_t first = fieldFirstVar[f];
        const int64_t width = fieldWidth[f];
        if (width < 0 || width > 31 || first < end || first + width > zeroVar)
            throwException("Assert failed: Invalid tuple layout", nullptr);
        end = first + width;
    }
}

Node makeEquals(int32_t x, int32_t y) {
    if (x == y || x < 0 || y < 0 || x > maxInnerVar || y > maxInnerVar)
        throwException("Assert failed: Invalid variable", nullptr);
    const int32_t top = x < y ? x : y;
    const int32_t other = x < y ? y : x;
    NodeHold onePart{cacheNode(other, zero, one)};
    const Node zeroPart = cacheNode(other, one, zero);
    return cacheNode(top, zeroPart, onePart.release());
}

Node makeSingleTupleUnary(int32_t firstVar, int32_t width, int32_t value) {
    if (width <= 0) return one;
    if (width > 31 || firstVar < 0 || int64_t{firstVar} + width > zeroVar)
        throwException("Assert failed: Invalid tuple layout", nullptr);
    Node r = one;
    for (int32_t i = 0; i < width; ++i) {
        const int32_t v = firstVar + width - i - 1;
        r = fieldBitSet(value, i) ? cacheNode(v, zero, r) : cacheNode(v, r, zero);
    }
    return r;
}

Node makeSingleTuple(int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                     const int32_t* fieldValue) {
    validateTupleLayout(numFields, fieldFirstVar, fieldWidth);
    Node r = one;
    for (int32_t f = numFields - 1; f >= 0; --f) {
        for (int32_t i = 0; i < fieldWidth[f]; ++i) {
            const int32_t v = fieldWidth[f] + fieldFirstVar[f] - i - 1;
            r = fieldBitSet(fieldValue[f], i) ? cacheNode(v, zero, r) : cacheNode(v, r, zero);
        }
    }
    return r;
}
