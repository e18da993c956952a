// The variable test and renaming of a run of variables.
//
// `testVars` is a marking walk (engine/Marking.h): `doTestVars` marks what it visits and `unMark`
// clears it again over the same root, whatever the answer, so every inner mark is clear between
// operations. `renameVars` moves a run by a fixed offset: nodes before the run are rebuilt (their
// children change), nodes after it are shared unchanged. Make-node refuses a moved node that would
// not lie above its children, so a rename that breaks the order elsewhere leaves nothing behind.
#include "engine/Marking.h"
#include "engine/OpCache.h"
#include "engine/UniqueTable.h"
#include "ops/SetOps.h"

int32_t testVars(Node node, int32_t firstVar, int32_t numVars) {
    UnmarkOnExit unmark{node};
    return doTestVars(node, firstVar, numVars);
}

Node renameVars(Node node, int32_t firstVar, int32_t numVars, int32_t offset) {
    const BddNode& r = nodeOf(node);
    if (isTerminal(node) || r.var >= firstVar + numVars) {
        incRefCount(node);
        return node;
    }
    // The offset in the low 16 bits, biased by 32768, the first variable above it.
    const auto packed = static_cast<int32_t>((static_cast<uint32_t>(offset) + 32768u) |
                                             (static_cast<uint32_t>(firstVar) << 16));
    const auto key = opHashCode2(opRename, node, packed);
    if (const Node hit = searchInOpCache(opRename, key)) return hit;
    checkStack();
    prefetchForMiss(r);
    prefetchOpLine2(opRename, r.low, packed);
    NodeHold hi{renameVars(r.high, firstVar, numVars, offset)};
    const Node lo = renameVars(r.low, firstVar, numVars, offset);
    const int32_t var = r.var >= firstVar ? r.var + offset : r.var;
    const Node result = cacheNode(var, lo, hi.release());
    return putInOpCache(opRename, key, result);
}

// ---- Entry forms -----------------------------------------------------------------------------------

int32_t testVarsEntry(Node node, int32_t firstVar, int32_t numVars) {
    // Only the part of the run that names inner variables (0..32765) can match.
    const int64_t first = firstVar < 0 ? 0 : firstVar;
    int64_t end = int64_t{firstVar} + numVars;
    if (end > zeroVar) end = zeroVar;
    if (numVars <= 0 || end <= first) return 0;
    return testVars(node, static_cast<int32_t>(first), static_cast<int32_t>(end - first));
}

Node renameVarsEntry(Node node, int32_t firstVar, int32_t numVars, int32_t offset) {
    if (offset < -32768 || offset > 32767) throwException(msgInvalidVariable);
    if (!checkedRun(firstVar, numVars)) {
        incRefCount(node);
        return node;
    }
    const int64_t movedFirst = int64_t{firstVar} + offset;
    const int64_t movedEnd = int64_t{firstVar} + numVars + offset;
    if (movedFirst < 0 || movedEnd > zeroVar) throwException(msgInvalidVariable);
    return renameVars(node, firstVar, numVars, offset);
}
