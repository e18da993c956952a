// Builders of the relations that analyses need: a field within a range, two fields equal, and one
// field the other plus a constant. Each combines the fields' bit variables with the set algebra, the
// least significant bits first; whatever the variable order, the result is the canonical diagram of
// the relation, and with the fields' bits interleaved (most significant first) it takes a few nodes a
// bit.
#include "ops/AnyVars.h"

#include "engine/OpCache.h"
#include "engine/UniqueTable.h"

#include "ops/SetOps.h"

#include <exception>

namespace {

// An intermediate result that the builder owns: queued for release when it is replaced or the
// builder is done, given back at once when an error unwinds through it.
class Owned {
public:
    explicit Owned(Node n = 0) : n_(n) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() {
        if (n_ == 0) return;
        if (std::uncaught_exceptions() > 0) releaseOnUnwind(n_);
        else holdRelease(n_);
    }
    Node get() const { return n_; }
    // Takes over `next` (one reference) and lets the node held so far go.
    void reset(Node next) {
        const Node old = n_;
        n_ = next;
        if (old != 0) holdRelease(old);
    }
    Node release() {
        const Node n = n_;
        n_ = 0;
        return n;
    }

private:
    Node n_;
};

// The variable as a set: v is 1 (or, with `negated`, 0).
Node literal(int32_t v, bool negated = false) { return negated ? cacheNode(v, manager.one, manager.zero) : cacheNode(v, manager.zero, manager.one); }

void checkVars(std::span<const int32_t> vars) {
    if (vars.size() > 31) throwException(msgInvalidVariableList);
    std::vector<bool> seen(zeroVar, false);
    for (const int32_t v : vars) {
        if (v < 0 || v > maxInnerVar || seen[static_cast<size_t>(v)]) throwException(msgInvalidVariableList);
        seen[static_cast<size_t>(v)] = true;
    }
}

// Two fields of the same width on variables of their own.
void checkPair(std::span<const int32_t> a, std::span<const int32_t> b) {
    if (a.size() != b.size()) throwException(msgInvalidVariableList);
    std::vector<int32_t> both(a.begin(), a.end());
    both.insert(both.end(), b.begin(), b.end());
    if (both.size() > 62) throwException(msgInvalidVariableList);
    std::vector<bool> seen(zeroVar, false);
    for (const int32_t v : both) {
        if (v < 0 || v > maxInnerVar || seen[static_cast<size_t>(v)]) throwException(msgInvalidVariableList);
        seen[static_cast<size_t>(v)] = true;
    }
}

// The values v of the field with v <= c (atMost) or v >= c, for 0 <= c < 2^width: the comparison
// decided by the most significant bit where v and c differ, built from the least significant bit up.
Node compareWith(std::span<const int32_t> vars, int64_t c, bool atMost) {
    const auto width = static_cast<int32_t>(vars.size());
    Owned r{manager.one};
    for (int32_t i = 0; i < width; ++i) {
        const int32_t v = vars[static_cast<size_t>(width - 1 - i)];
        const bool cBit = ((c >> i) & 1) != 0;
        // Where this bit of v differs from c's, it decides; where it is equal, the bits below do.
        Owned decides{literal(v, atMost)};
        r.reset(cBit == atMost ? unite(decides.get(), r.get()) : intersect(decides.get(), r.get()));
    }
    return r.release();
}

// a == b, bit for bit.
Node bitsEqual(int32_t a, int32_t b) {
    const int32_t top = a < b ? a : b;
    const int32_t other = a < b ? b : a;
    NodeHold isOne{literal(other)};
    const Node isZero = literal(other, true);
    return cacheNode(top, isZero, isOne.release());
}

}  // namespace

Node makeRange(std::span<const int32_t> vars, int64_t lo, int64_t hi) {
    checkVars(vars);
    const int64_t largest = (int64_t{1} << vars.size()) - 1;
    if (lo < 0) lo = 0;
    if (hi > largest) hi = largest;
    if (lo > hi) return manager.zero;
    Owned atLeast{compareWith(vars, lo, false)};
    Owned atMost{compareWith(vars, hi, true)};
    return intersect(atLeast.get(), atMost.get());
}

Node makeFieldsEqual(std::span<const int32_t> a, std::span<const int32_t> b) {
    checkPair(a, b);
    Owned r{manager.one};
    for (size_t i = a.size(); i-- > 0;) {
        Owned bit{bitsEqual(a[i], b[i])};
        r.reset(intersect(r.get(), bit.get()));
    }
    return r.release();
}

Node makePlus(std::span<const int32_t> from, std::span<const int32_t> to, int64_t k) {
    checkPair(from, to);
    const auto width = static_cast<int32_t>(from.size());
    if (k >= (int64_t{1} << width) || k <= -(int64_t{1} << width)) return manager.zero;  // every sum wraps
    if (k < 0) return makePlus(to, from, -k);  // to = from - |k| is from = to + |k|
    // Bit i of the sum is from_i XOR k_i XOR carry_i; the carry into bit i is a function of the
    // bits of `from` below i. No carry may leave the top bit.
    Owned relation{manager.one};
    Owned carry{manager.zero};
    for (int32_t i = 0; i < width; ++i) {
        const int32_t f = from[static_cast<size_t>(width - 1 - i)];
        const int32_t t = to[static_cast<size_t>(width - 1 - i)];
        const bool kBit = ((k >> i) & 1) != 0;
        Owned fBit{literal(f)};
        Owned notCarry{complement(carry.get())};
        // from_i XOR carry_i, then XOR k_i.
        Owned sum{ite(fBit.get(), notCarry.get(), carry.get())};
        if (kBit) sum.reset(complement(sum.get()));
        Owned notSum{complement(sum.get())};
        Owned tBit{literal(t)};
        Owned agrees{ite(tBit.get(), sum.get(), notSum.get())};
        relation.reset(intersect(relation.get(), agrees.get()));
        // The carry out: the majority of from_i, k_i and carry_i.
        carry.reset(kBit ? unite(fBit.get(), carry.get()) : intersect(fBit.get(), carry.get()));
    }
    Owned noOverflow{complement(carry.get())};
    return intersect(relation.get(), noOverflow.get());
}
