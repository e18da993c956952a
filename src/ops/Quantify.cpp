// Projection and relational product: `existsVar` removes one variable, `exists` a run of
// variables, and `relprod` quantifies a run away from a ∩ b in one pass, merging the quantified
// variables with `unite` as soon as they are split so that a ∩ b is never built.
//
// Inside the run `exists` computes the low branch first, before the run the high branch;
// `relprod` computes the low branch first where both nodes test the same variable. Intermediates
// merged by `unite` are queued for release only after the call that uses them has returned.
#include "ops/SetOps.h"

#include "engine/OpCache.h"

namespace {

// Hands an intermediate that is no longer needed to the release queue.
void releaseLater(NodeHold& hold) { holdRelease(hold.release()); }

// The merge of a quantified variable's two branches; both are intermediates.
Node uniteAndRelease(NodeHold& lo, NodeHold& hi) {
    NodeHold r{unite(lo.n, hi.n)};
    releaseLater(lo);
    releaseLater(hi);
    return r.release();
}

}  // namespace

Node existsVar(Node node, int32_t var) {
    const BddNode& r = nodeOf(node);
    if (r.var < var) {
        const int32_t h = opHashCode2(opExistsVar, node, var);
        if (const Node hit = searchInOpCache2(opExistsVar, node, var, h)) return hit;
        checkStack();
        prefetchForMiss(h, r);
        NodeHold hi{existsVar(r.high, var)};
        const Node lo = existsVar(r.low, var);
        const Node result = cacheNode(r.var, lo, hi.release());
        return putInOpCache2(opExistsVar, node, var, result, h);
    }
    if (r.var == var) return unite(r.low, r.high);
    addRef(node);
    return node;
}

Node exists(Node node, int32_t firstVar, int32_t numVars) {
    const BddNode& r = nodeOf(node);
    if (r.var >= firstVar + numVars) {
        addRef(node);
        return node;
    }
    const int32_t h = opHashCode2(opExists, node, firstVar);
    if (const Node hit = searchInOpCache2(opExists, node, firstVar, h)) return hit;
    checkStack();
    prefetchForMiss(h, r);
    Node result;
    if (r.var >= firstVar) {
        NodeHold lo{exists(r.low, firstVar, numVars)};
        NodeHold hi{exists(r.high, firstVar, numVars)};
        result = uniteAndRelease(lo, hi);
    } else {
        NodeHold hi{exists(r.high, firstVar, numVars)};
        const Node lo = exists(r.low, firstVar, numVars);
        result = cacheNode(r.var, lo, hi.release());
    }
    return putInOpCache2(opExists, node, firstVar, result, h);
}

Node relprod(Node a, Node b, int32_t firstVar, int32_t numVars) {
    if (a == zero || b == zero) return zero;
    if (a == one && b == one) return one;
    if (a == one) return exists(b, firstVar, numVars);
    if (b == one) return exists(a, firstVar, numVars);
    const int32_t h = opHashCode3(opRelprod, a, b, firstVar);
    if (const Node hit = searchInOpCache3(opRelprod, a, b, firstVar, h)) return hit;
    checkStack();
    const int32_t end = firstVar + numVars;
    const BddNode& ra = nodeOf(a);
    const BddNode& rb = nodeOf(b);
    prefetchForMiss(h, ra, rb);
    const auto inRun = [&](int32_t var) { return var >= firstVar && var < end; };
    Node result;
    if (ra.var < rb.var) {
        if (inRun(ra.var)) {
            NodeHold u{unite(ra.low, ra.high)};
            NodeHold r{relprod(u.n, b, firstVar, numVars)};
            releaseLater(u);
            result = r.release();
        } else {
            NodeHold hi{relprod(ra.high, b, firstVar, numVars)};
            const Node lo = relprod(ra.low, b, firstVar, numVars);
            result = cacheNode(ra.var, lo, hi.release());
        }
    } else if (ra.var == rb.var) {
        NodeHold lo{relprod(ra.low, rb.low, firstVar, numVars)};
        NodeHold hi{relprod(ra.high, rb.high, firstVar, numVars)};
        if (inRun(ra.var))
            result = uniteAndRelease(lo, hi);
        else
            result = cacheNode(ra.var, lo.release(), hi.release());
    } else {
        // b is split alone: its branches come first in the recursive calls.
        if (inRun(rb.var)) {
            NodeHold u{unite(rb.low, rb.high)};
            NodeHold r{relprod(u.n, a, firstVar, numVars)};
            releaseLater(u);
            result = r.release();
        } else {
            NodeHold hi{relprod(rb.high, a, firstVar, numVars)};
            const Node lo = relprod(rb.low, a, firstVar, numVars);
            result = cacheNode(rb.var, lo, hi.release());
        }
    }
    return putInOpCache3(opRelprod, a, b, firstVar, result, h);
}

// ---- Entry forms -----------------------------------------------------------------------------------

bool checkedRun(int32_t firstVar, int32_t numVars) {
    if (numVars <= 0) return false;
    if (firstVar < 0 || int64_t{firstVar} + numVars > zeroVar) throwException("Assert failed: Invalid variable", nullptr);
    return true;
}

Node existsVarEntry(Node node, int32_t var) {
    if (var < 0 || var > maxInnerVar) throwException("Assert failed: Invalid variable", nullptr);
    return existsVar(node, var);
}

Node existsEntry(Node node, int32_t firstVar, int32_t numVars) {
    if (!checkedRun(firstVar, numVars)) {
        addRef(node);
        return node;
    }
    return exists(node, firstVar, numVars);
}

Node relprodEntry(Node a, Node b, int32_t firstVar, int32_t numVars) {
    if (!checkedRun(firstVar, numVars)) return intersect(a, b);
    return relprod(a, b, firstVar, numVars);
}
