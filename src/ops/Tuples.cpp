// Tuple construction and insertion: the set where two variables are equal, sets of one tuple, and
// the insertion of one tuple into a set.
//
// The constructors hand `zero` and `one` to make-node without adding a reference first, so the
// terminal counts drift with every construction; the terminals are never freed.
#include "engine/UniqueTable.h"
#include "ops/SetOps.h"
#include "ops/TupleLayout.h"

Node makeEquals(int32_t x, int32_t y) {
    if (x == y || x < 0 || y < 0 || x > maxInnerVar || y > maxInnerVar)
        throwException(msgInvalidVariable);
    const int32_t top = x < y ? x : y;
    const int32_t other = x < y ? y : x;
    NodeHold onePart{cacheNode(other, manager.zero, manager.one)};
    const Node zeroPart = cacheNode(other, manager.one, manager.zero);
    return cacheNode(top, zeroPart, onePart.release());
}

namespace {

// The chain of one field's value below `below`, built from its least significant bit up.
Node prependField(Node below, int32_t firstVar, int32_t width, int32_t value) {
    Node r = below;
    for (int32_t i = 0; i < width; ++i) {
        const int32_t v = firstVar + width - i - 1;
        r = fieldBitSet(value, i) ? cacheNode(v, manager.zero, r) : cacheNode(v, r, manager.zero);
    }
    return r;
}

}  // namespace

Node makeSingleTupleUnary(int32_t firstVar, int32_t width, int32_t value) {
    if (width <= 0) return manager.one;
    if (width > 31 || firstVar < 0 || int64_t{firstVar} + width > zeroVar)
        throwException(msgInvalidLayout);
    return prependField(manager.one, firstVar, width, value);
}

Node makeSingleTuple(int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                     const int32_t* fieldValue) {
    validateTupleLayout(numFields, fieldFirstVar, fieldWidth);
    Node r = manager.one;
    for (int32_t f = numFields - 1; f >= 0; --f) r = prependField(r, fieldFirstVar[f], fieldWidth[f], fieldValue[f]);
    return r;
}

namespace {

// Walks the set along the path of the new tuple: `curVar` is the variable to decide next and
// `fieldIndex` the field it belongs to. A node that does not test `curVar` stands for both values
// of it: the new node for `curVar` keeps the old node on the branch the tuple does not take and the
// extended copy on the other. No memo: only the tuple's path is rebuilt, plus both branches below
// every node that tests a variable the tuple leaves free.
Node addTupleWork(Node node, const TupleLayout& layout, const int32_t* fieldValue, int32_t fieldIndex,
                  int32_t curVar) {
    if (node == manager.one) return manager.one;  // every continuation is already in the set
    // Past the last field: what still tests below it is dropped.
    if (passFieldEnds(layout, fieldIndex, curVar)) return manager.one;
    checkStack();
    const BddNode& r = nodeOf(node);
    if (r.var < curVar) {
        // A variable the tuple leaves free: the tuple goes into both branches, high first.
        NodeHold hi{addTupleWork(r.high, layout, fieldValue, fieldIndex, curVar)};
        const Node lo = addTupleWork(r.low, layout, fieldValue, fieldIndex, curVar);
        return cacheNode(r.var, lo, hi.release());
    }
    const int32_t bit = layout.fieldWidth[fieldIndex] - (curVar - layout.fieldFirstVar[fieldIndex]) - 1;
    const bool set = fieldBitSet(fieldValue[fieldIndex], bit);
    // The branch the tuple does not take keeps what was there; its reference is added before the
    // recursion and handed to make-node with the extended branch.
    const bool tests = r.var == curVar;
    const Node kept = tests ? (set ? r.low : r.high) : node;
    const Node below = tests ? (set ? r.high : r.low) : node;
    incRefCount(kept);
    NodeHold keptHold{kept};
    const Node t = addTupleWork(below, layout, fieldValue, fieldIndex, curVar + 1);
    return set ? cacheNode(curVar, keptHold.release(), t) : cacheNode(curVar, t, keptHold.release());
}

}  // namespace

Node addTuple(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
              const int32_t* fieldValue) {
    validateTupleLayout(numFields, fieldFirstVar, fieldWidth);
    // The empty tuple leaves every variable free: adding it gives the set of all assignments.
    if (numFields == 0) return manager.one;
    return addTupleWork(node, {numFields, fieldFirstVar, fieldWidth}, fieldValue, 0, fieldFirstVar[0]);
}
