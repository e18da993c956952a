// The 32-bit tuple count, memoised per node in the operation cache.
#include "engine/OpCache.h"
#include "ops/TupleLayout.h"
#include "ops/TupleWalks.h"

namespace {

// The number of completions of the variables from `curVar` (in field `fieldIndex`) to the end of the
// last field that `node` contains; `node` is not `zero`. A field variable that `node` leaves free
// doubles the count of what follows it. Those doublings are not memoised, so they are taken here in
// a loop, with the factor kept modulo 2^32, instead of one call per free variable: the count, the
// cache entries and the errors are those of the call chain, but the depth is the number of
// variables the diagram tests, not the width of the layout.
int32_t getNumOfTuplesWork(Node node, const TupleLayout& layout, int32_t fieldIndex, int32_t curVar) {
    checkStack();
    uint32_t factor = 1;
    for (;;) {
        if (passFieldEnds(layout, fieldIndex, curVar)) {
            // Past the last field only `one` may remain: anything else tests a variable after it.
            if (node != manager.one) throwException(msgCountWalk);
            return static_cast<int32_t>(factor);
        }
        const BddNode& r = nodeOf(node);
        if (r.var > curVar || node == manager.one) {
            factor <<= 1;
            ++curVar;
            continue;
        }
        // Below `curVar`: a variable in a gap, or before the first field.
        if (r.var != curVar) throwException(msgCountWalk);

        const auto key = countKeyOf(node);
        const int32_t cached = searchInOpCache4(key);
        if (cached != -1) return static_cast<int32_t>(factor * static_cast<uint32_t>(cached));
        uint32_t sum = 0;
        if (r.low != manager.zero)
            sum += static_cast<uint32_t>(getNumOfTuplesWork(r.low, layout, fieldIndex, curVar + 1));
        if (r.high != manager.zero)
            sum += static_cast<uint32_t>(getNumOfTuplesWork(r.high, layout, fieldIndex, curVar + 1));
        const int32_t count = putInOpCache4(key, static_cast<int32_t>(sum));
        return static_cast<int32_t>(factor * static_cast<uint32_t>(count));
    }
}

}  // namespace

int32_t getNumOfTuples(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth) {
    const TupleLayout layout{numFields, fieldFirstVar, fieldWidth};
    switch (startTupleWalk(node, layout, msgCountWalk)) {
    case TupleWalkStart::noTuple: return 0;
    case TupleWalkStart::emptyTuple: return 1;
    case TupleWalkStart::walk: break;
    }
    return getNumOfTuplesWork(node, layout, 0, fieldFirstVar[0]);
}
