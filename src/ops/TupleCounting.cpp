// Tuple counting: the number of tuples of a set under a layout, memoised per node.
#include "engine/OpCache.h"
#include "ops/TupleLayout.h"
#include "ops/TupleWalks.h"

int32_t getNumOfTuples(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                       const int32_t* fieldBound) {
    validateTupleLayout(numFields, fieldFirstVar, fieldWidth);
    if (node == zero) return 0;
    if (numFields <= 0) {
        // No fields: the empty tuple is the only one, and only `one` has no variable left to test.
        if (node != one) throwException(msgCountWalk);
        return 1;
    }
    return getNumOfTuplesWork(node, numFields, fieldFirstVar, fieldWidth, fieldBound, 0, fieldFirstVar[0]);
}

// A field variable that `node` leaves free doubles the count of what follows it. Those doublings
// are not memoised, so they are taken here in a loop, with the factor kept modulo 2^32, instead of
// one call per free variable: the count, the cache entries and the errors are those of the call
// chain, but the depth is the number of variables the diagram tests, not the width of the layout.
int32_t getNumOfTuplesWork(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                           const int32_t* fieldBound, int32_t fieldIndex, int32_t curVar) {
    checkStack();
    uint32_t factor = 1;
    for (;;) {
        if (passFieldEnds(numFields, fieldFirstVar, fieldWidth, fieldIndex, curVar)) {
            // Past the last field only `one` may remain: anything else tests a variable after it.
            if (node != one) throwException(msgCountWalk);
            return static_cast<int32_t>(factor);
        }
        const BddNode& r = nodeOf(node);
        if (r.var > curVar || node == one) {
            factor <<= 1;
            ++curVar;
            continue;
        }
        // Below `curVar`: a variable in a gap, or before the first field.
        if (r.var != curVar) throwException(msgCountWalk);

        const int32_t h = opHashCode1(opCount, node, node);
        const int32_t cached = searchInOpCache4(opCount, node, h);
        if (cached != -1) return static_cast<int32_t>(factor * static_cast<uint32_t>(cached));
        uint32_t sum = 0;
        if (r.low != zero)
            sum += static_cast<uint32_t>(
                getNumOfTuplesWork(r.low, numFields, fieldFirstVar, fieldWidth, fieldBound, fieldIndex, curVar + 1));
        if (r.high != zero)
            sum += static_cast<uint32_t>(
                getNumOfTuplesWork(r.high, numFields, fieldFirstVar, fieldWidth, fieldBound, fieldIndex, curVar + 1));
        const int32_t count = putInOpCache4(opCount, node, static_cast<int32_t>(sum), h);
        return static_cast<int32_t>(factor * static_cast<uint32_t>(count));
    }
}
