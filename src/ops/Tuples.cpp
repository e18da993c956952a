// Tuple construction and insertion: the set where two variables are equal, sets of one tuple, and
// the insertion of one tuple into a set.
//
// The constructors hand `zero` and `one` to make-node without adding a reference first, so the
// terminal counts drift with every construction; the terminals are never freed.
#include "ops/SetOps.h"
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

Node makeEquals(int32_t x, int32_t y) {
    if (x == y || x < 0 || y < 0 || x > maxInnerVar || y > maxInnerVar)
        throwException(msgInvalidVariable);
    const int32_t top = x < y ? x : y;
    const int32_t other = x < y ? y : x;
    NodeHold onePart{cacheNode(other, zero, one)};
    const Node zeroPart = cacheNode(other, one, zero);
    return cacheNode(top, zeroPart, onePart.release());
}

Node makeSingleTupleUnary(int32_t firstVar, int32_t width, int32_t value) {
    if (width <= 0) return one;
    if (width > 31 || firstVar < 0 || int64_t{firstVar} + width > zeroVar)
        throwException(msgInvalidLayout);
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

Node addTuple(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
              const int32_t* fieldValue) {
    validateTupleLayout(numFields, fieldFirstVar, fieldWidth);
    // The empty tuple leaves every variable free: adding it gives the set of all assignments.
    if (numFields == 0) return one;
    return addTupleWork(node, numFields, fieldFirstVar, fieldWidth, fieldValue, 0, fieldFirstVar[0]);
}

// Walks the set along the path of the new tuple. A node that does not test `curVar` stands for both
// values of it: the new node for `curVar` keeps the old node on the branch the tuple does not take
// and the extended copy on the other. No memo: only the tuple's path is rebuilt, plus both branches
// below every node that tests a variable the tuple leaves free.
Node addTupleWork(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                  const int32_t* fieldValue, int32_t fieldIndex, int32_t curVar) {
    if (node == one) return one;  // every continuation is already in the set
    // Field end; a field without bits is finished before it starts, so this passes over it too.
    // With fields of one bit or more at most one field is passed here.
    while (fieldWidth[fieldIndex] <= 0 || fieldFirstVar[fieldIndex] + fieldWidth[fieldIndex] <= curVar) {
        if (fieldIndex == numFields - 1) return one;  // what still tests below the last field is dropped
        ++fieldIndex;
    }
    if (fieldFirstVar[fieldIndex] > curVar) curVar = fieldFirstVar[fieldIndex];  // a gap
    checkStack();
    const BddNode& r = nodeOf(node);
    if (r.var < curVar) {
        // A variable the tuple leaves free: the tuple goes into both branches, high first.
        NodeHold hi{addTupleWork(r.high, numFields, fieldFirstVar, fieldWidth, fieldValue, fieldIndex, curVar)};
        const Node lo = addTupleWork(r.low, numFields, fieldFirstVar, fieldWidth, fieldValue, fieldIndex, curVar);
        return cacheNode(r.var, lo, hi.release());
    }
    const int32_t bit = fieldWidth[fieldIndex] - (curVar - fieldFirstVar[fieldIndex]) - 1;
    const bool set = fieldBitSet(fieldValue[fieldIndex], bit);
    // The branch the tuple does not take keeps what was there; its reference is added before the
    // recursion and handed to make-node with the extended branch.
    const bool tests = r.var == curVar;
    const Node kept = tests ? (set ? r.low : r.high) : node;
    const Node below = tests ? (set ? r.high : r.low) : node;
    addRef(kept);
    NodeHold keptHold{kept};
    const Node t = addTupleWork(below, numFields, fieldFirstVar, fieldWidth, fieldValue, fieldIndex, curVar + 1);
    return set ? cacheNode(curVar, keptHold.release(), t) : cacheNode(curVar, t, keptHold.release());
}
