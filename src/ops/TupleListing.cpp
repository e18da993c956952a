// Tuple listing: the tuples of a set within per-field bounds, ascending, into a tuple sink.
#include "ops/TupleLayout.h"
#include "ops/TupleWalks.h"

#include <memory>

namespace {

// What stays the same through one listing walk.
struct TupleListing {
    const TupleSink& sink;
    const TupleLayout& layout;
    const int32_t* fieldBound;
    int32_t* curValues;  // the field values of the tuple under construction
};

// Some field of width 0 (whose one value is 0) with a bound of 0 or less: no tuple is in bounds.
bool emptyFieldOutOfBounds(const TupleLayout& layout, const int32_t* fieldBound) {
    for (int32_t f = 0; f < layout.numFields; ++f)
        if (layout.fieldWidth[f] == 0 && fieldBound[f] <= 0) return true;
    return false;
}

// Lists the tuples of `node` from `curVar` (in field `fieldIndex`) on. `remaining` falls by one per
// listed tuple, with 32-bit wrap-around; returns the new value. A call that gets 0 back ends the
// walk at once, leaving `curValues` as it is.
int32_t getNTuplesWork(Node node, const TupleListing& walk, int32_t fieldIndex, int32_t curVar, int32_t remaining) {
    checkStack();
    if (passFieldEnds(walk.layout, fieldIndex, curVar)) {
        // Past the last field only `one` may remain: anything else tests a variable after it.
        if (node != manager.one) throwException(msgListWalk);
        walk.sink.add(walk.sink.context, walk.curValues, walk.layout.numFields);
        return static_cast<int32_t>(static_cast<uint32_t>(remaining) - 1);
    }
    const BddNode& r = nodeOf(node);
    Node branch0;
    Node branch1;
    if (r.var > curVar || node == manager.one) {
        branch0 = node;  // free variable: both values, same continuation
        branch1 = node;
    } else if (r.var == curVar) {
        branch0 = r.low;
        branch1 = r.high;
    } else {
        throwException(msgListWalk);  // a variable in a gap, or before the first field
    }

    // The bound test sees the bits decided so far, which no completion of them undercuts.
    int32_t& c = walk.curValues[fieldIndex];
    const int32_t bound = walk.fieldBound[fieldIndex];
    c = static_cast<int32_t>(static_cast<uint32_t>(c) << 1);
    if (branch0 != manager.zero && c < bound) {
        remaining = getNTuplesWork(branch0, walk, fieldIndex, curVar + 1, remaining);
        if (remaining == 0) return 0;
    }
    c = static_cast<int32_t>(static_cast<uint32_t>(c) + 1);
    if (branch1 != manager.zero && c < bound) {
        remaining = getNTuplesWork(branch1, walk, fieldIndex, curVar + 1, remaining);
        if (remaining == 0) return 0;
    }
    c >>= 1;
    return remaining;
}

}  // namespace

void getNTuples(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                const int32_t* fieldBound, int32_t maxTuples, const TupleSink& sink) {
    const TupleLayout layout{numFields, fieldFirstVar, fieldWidth};
    switch (startTupleWalk(node, layout, msgListWalk)) {
    case TupleWalkStart::noTuple: return;
    case TupleWalkStart::emptyTuple: {
        const int32_t none = 0;
        sink.add(sink.context, &none, 0);
        return;
    }
    case TupleWalkStart::walk: break;
    }
    if (emptyFieldOutOfBounds(layout, fieldBound)) return;
    const std::unique_ptr<int32_t[]> curValues(new int32_t[numFields]());
    getNTuplesWork(node, {sink, layout, fieldBound, curValues.get()}, 0, fieldFirstVar[0], maxTuples);
}
