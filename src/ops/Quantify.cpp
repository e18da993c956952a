// Projection and relational product: `existsVar` removes one variable, `exists` a run of
// variables, and `relprod` quantifies a run away from a ∩ b in one pass, merging the quantified
// variables with `unite` as soon as they are split so that a ∩ b is never built.
//
// Inside the run `exists` computes the low branch first, before the run the high branch;
// `relprod` computes the low branch first where both nodes test the same variable. Intermediates
// merged by `unite` are queued for release only after the call that uses them has returned.
#include "engine/OpCache.h"
#include "engine/UniqueTable.h"
#include "ops/SetOps.h"

namespace {

// Hands an intermediate that is no longer needed to the release queue.
void releaseLater(NodeHold& hold) { holdRelease(hold.release()); }

}  // namespace

Node existsVar(Node node, int32_t var) {
    const BddNode& r = nodeOf(node);
    if (r.var < var) {
        const auto key = opHashCode2(opExistsVar, node, var);
        if (const Node hit = searchInOpCache(opExistsVar, key)) return hit;
        checkStack();
        prefetchForMiss(r);
        prefetchOpLine2(opExistsVar, r.low, var);
        NodeHold hi{existsVar(r.high, var)};
        const Node lo = existsVar(r.low, var);
        const Node result = makeOrderedNode(r.var, lo, hi.release());
        return putInOpCache(opExistsVar, key, result);
    }
    if (r.var == var) return unite(r.low, r.high);
    incRefCount(node);
    return node;
}

Node exists(Node node, int32_t firstVar, int32_t numVars) {
    const BddNode& r = nodeOf(node);
    if (r.var >= firstVar + numVars) {
        incRefCount(node);
        return node;
    }
    const auto key = opHashCode2(opExists, node, firstVar);
    if (const Node hit = searchInOpCache(opExists, key)) return hit;
    checkStack();
    prefetchForMiss(r);
    Node result;
    if (r.var >= firstVar) {
        prefetchOpLine2(opExists, r.high, firstVar);
        NodeHold lo{exists(r.low, firstVar, numVars)};
        NodeHold hi{exists(r.high, firstVar, numVars)};
        result = uniteAndRelease(lo, hi);
    } else {
        prefetchOpLine2(opExists, r.low, firstVar);
        NodeHold hi{exists(r.high, firstVar, numVars)};
        const Node lo = exists(r.low, firstVar, numVars);
        result = makeOrderedNode(r.var, lo, hi.release());
    }
    return putInOpCache(opExists, key, result);
}

namespace {

// The step of `relprod` where only one operand, `split`, tests the smaller variable: its branches
// go first in the recursive calls, the other operand second.
Node relprodSplitOne(const BddNode& split, Node other, int32_t firstVar, int32_t numVars) {
    if (split.var >= firstVar && split.var < firstVar + numVars) {
        NodeHold u{unite(split.low, split.high)};
        NodeHold r{relprod(u.n, other, firstVar, numVars)};
        releaseLater(u);
        return r.release();
    }
    prefetchOpLine3(opRelprod, split.low, other, firstVar);
    NodeHold hi{relprod(split.high, other, firstVar, numVars)};
    const Node lo = relprod(split.low, other, firstVar, numVars);
    return makeOrderedNode(split.var, lo, hi.release());
}

}  // namespace

Node relprod(Node a, Node b, int32_t firstVar, int32_t numVars) {
    if (a == manager.zero || b == manager.zero) return manager.zero;
    if (a == manager.one && b == manager.one) return manager.one;
    if (a == manager.one) return exists(b, firstVar, numVars);
    if (b == manager.one) return exists(a, firstVar, numVars);
    const auto key = opHashCode3(opRelprod, a, b, firstVar);
    if (const Node hit = searchInOpCache(opRelprod, key)) return hit;
    checkStack();
    const BddNode& ra = nodeOf(a);
    const BddNode& rb = nodeOf(b);
    prefetchForMiss(ra, rb);
    Node result;
    if (ra.var < rb.var) {
        result = relprodSplitOne(ra, b, firstVar, numVars);
    } else if (ra.var > rb.var) {
        result = relprodSplitOne(rb, a, firstVar, numVars);
    } else {
        prefetchOpLine3(opRelprod, ra.high, rb.high, firstVar);
        NodeHold lo{relprod(ra.low, rb.low, firstVar, numVars)};
        NodeHold hi{relprod(ra.high, rb.high, firstVar, numVars)};
        if (ra.var >= firstVar && ra.var < firstVar + numVars)
            result = uniteAndRelease(lo, hi);
        else
            result = makeOrderedNode(ra.var, lo.release(), hi.release());
    }
    return putInOpCache(opRelprod, key, result);
}

// ---- Entry forms -----------------------------------------------------------------------------------

bool checkedRun(int32_t firstVar, int32_t numVars) {
    if (numVars <= 0) return false;
    if (firstVar < 0 || int64_t{firstVar} + numVars > zeroVar) throwException(msgInvalidVariable);
    return true;
}

Node existsVarEntry(Node node, int32_t var) {
    if (var < 0 || var > maxInnerVar) throwException(msgInvalidVariable);
    return existsVar(node, var);
}

Node existsEntry(Node node, int32_t firstVar, int32_t numVars) {
    if (!checkedRun(firstVar, numVars)) {
        incRefCount(node);
        return node;
    }
    return exists(node, firstVar, numVars);
}

Node relprodEntry(Node a, Node b, int32_t firstVar, int32_t numVars) {
    if (!checkedRun(firstVar, numVars)) return intersect(a, b);
    return relprod(a, b, firstVar, numVars);
}
