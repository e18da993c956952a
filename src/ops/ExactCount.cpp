// Exact tuple counts with a memo private to the call: every node's count lives in a table made for
// one call and dropped at its end, so a node counted earlier under another layout never answers for
// this one; the operation cache is neither read nor written. The table is indexed by handle and
// zeroed lazily by the system (pages that the walk never touches cost nothing), so a small set in a
// large store pays for its own nodes only.
#include "ops/AnyVars.h"

#include <bit>
#include <cstdlib>
#include <memory>

namespace {

// A node's count: up to 64 bits in `word` (with `length` 0), larger ones as `length` limbs of the
// pool from `offset`.
struct Count {
    uint64_t word;
    uint32_t offset;
    uint32_t length;
};

struct FreeDeleter {
    void operator()(uint32_t* p) const noexcept { std::free(p); }
};

// What one count keeps while it walks.
struct CountWalk {
    int32_t end;                          // the variable after the last field
    std::vector<int32_t> fieldVarsBelow;  // [v]: the field variables below v, for v in 0..end
    std::unique_ptr<uint32_t[], FreeDeleter> slot;  // per handle: 0 unseen, else 1 + index in counts
    std::vector<Count> counts;
    std::vector<uint32_t> pool;
    std::vector<uint32_t> sum;  // scratch of the wide additions
};

// Where a node stands in the layout: `one` after the last field; an inner node at its variable,
// which must be a field variable.
int32_t positionOf(const CountWalk& w, Node n) {
    if (n == manager.one) return w.end;
    const int32_t v = nodeOf(n).var;
    if (v < 0 || v >= w.end || w.fieldVarsBelow[v + 1] == w.fieldVarsBelow[v]) throwException(msgCountWalk);
    return v;
}

// acc += src << shift, on limbs; acc grows as needed.
void addShifted(std::vector<uint32_t>& acc, const uint32_t* src, size_t len, int32_t shift) {
    const size_t q = static_cast<size_t>(shift) / 32;
    const unsigned r = static_cast<unsigned>(shift) % 32;
    if (acc.size() < q + len + 1) acc.resize(q + len + 1, 0);
    uint32_t prev = 0;
    uint64_t carry = 0;
    for (size_t i = 0; i <= len; ++i) {
        const uint32_t cur = i < len ? src[i] : 0;
        const uint32_t limb = r == 0 ? cur : (cur << r) | (prev >> (32 - r));
        prev = cur;
        const uint64_t t = uint64_t{acc[q + i]} + limb + carry;
        acc[q + i] = static_cast<uint32_t>(t);
        carry = t >> 32;
    }
    for (size_t k = q + len + 1; carry != 0; ++k) {
        if (k == acc.size()) acc.push_back(0);
        const uint64_t t = uint64_t{acc[k]} + carry;
        acc[k] = static_cast<uint32_t>(t);
        carry = t >> 32;
    }
}

void addShifted(CountWalk& w, const Count& c, int32_t shift) {
    if (c.length == 0) {
        const uint32_t limbs[2] = {static_cast<uint32_t>(c.word), static_cast<uint32_t>(c.word >> 32)};
        addShifted(w.sum, limbs, 2, shift);
    } else {
        addShifted(w.sum, w.pool.data() + c.offset, c.length, shift);
    }
}

// c << shift when it fits in 64 bits.
bool shiftedWord(const Count& c, int32_t shift, uint64_t& out) {
    if (c.length != 0 || std::bit_width(c.word) + shift > 64) return false;
    out = shift >= 64 ? 0 : c.word << shift;
    return true;
}

Count countWork(CountWalk& w, Node n);

// The count of a child, for a parent whose variable is followed by `next` field variables below.
Count childCount(CountWalk& w, Node child, int32_t next, int32_t& shift) {
    shift = w.fieldVarsBelow[positionOf(w, child)] - next;
    return child == manager.one ? Count{1, 0, 0} : countWork(w, child);
}

// The completions of the field variables from n's own variable to the end of the last field.
Count countWork(CountWalk& w, Node n) {
    uint32_t& seen = w.slot[n];
    if (seen != 0) return w.counts[seen - 1];
    checkStack();
    const BddNode& r = nodeOf(n);
    const int32_t next = w.fieldVarsBelow[r.var + 1];
    Count lo{0, 0, 0};
    Count hi{0, 0, 0};
    int32_t loShift = 0;
    int32_t hiShift = 0;
    if (r.low != manager.zero) lo = childCount(w, r.low, next, loShift);
    if (r.high != manager.zero) hi = childCount(w, r.high, next, hiShift);

    Count result{0, 0, 0};
    uint64_t a = 0;
    uint64_t b = 0;
    if (!(shiftedWord(lo, loShift, a) && shiftedWord(hi, hiShift, b) && !__builtin_add_overflow(a, b, &result.word))) {
        w.sum.assign(1, 0);
        addShifted(w, lo, loShift);
        addShifted(w, hi, hiShift);
        while (!w.sum.empty() && w.sum.back() == 0) w.sum.pop_back();
        result = Count{0, static_cast<uint32_t>(w.pool.size()), static_cast<uint32_t>(w.sum.size())};
        w.pool.insert(w.pool.end(), w.sum.begin(), w.sum.end());
    }
    w.counts.push_back(result);
    seen = static_cast<uint32_t>(w.counts.size());
    return result;
}

}  // namespace

std::vector<uint32_t> exactNumOfTuples(Node node, const FieldLayout& layout) {
    if (node == manager.zero) return {};
    CountWalk w;
    w.end = layout.bits.empty() ? 0 : layout.bits.back().var + 1;
    w.fieldVarsBelow.assign(static_cast<size_t>(w.end) + 1, 0);
    size_t next = 0;  // the next bit of the layout, in variable order
    for (int32_t v = 0; v < w.end; ++v) {
        const bool fieldVar = layout.bits[next].var == v;
        next += fieldVar ? 1 : 0;
        w.fieldVarsBelow[static_cast<size_t>(v) + 1] = w.fieldVarsBelow[static_cast<size_t>(v)] + (fieldVar ? 1 : 0);
    }
    if (node != manager.one) {
        const size_t handles = static_cast<size_t>(manager.totalNodesAllocated) + 1;
        w.slot.reset(static_cast<uint32_t*>(std::calloc(handles, sizeof(uint32_t))));
        if (!w.slot) throwOutOfMemory();
    }
    const int32_t above = w.fieldVarsBelow[static_cast<size_t>(positionOf(w, node))];
    const Count c = node == manager.one ? Count{1, 0, 0} : countWork(w, node);
    w.sum.assign(1, 0);
    addShifted(w, c, above);
    while (!w.sum.empty() && w.sum.back() == 0) w.sum.pop_back();
    return w.sum;
}
