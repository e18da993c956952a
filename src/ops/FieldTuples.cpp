// Tuples over fields on any variables: layouts, building one tuple or many, and listing.
#include "ops/AnyVars.h"

#include "engine/OpCache.h"
#include "engine/UniqueTable.h"

#include "ops/SetOps.h"

#include <algorithm>
#include <memory>
#include <numeric>

FieldLayout fieldLayoutOf(std::span<const int32_t> fieldVars, std::span<const int32_t> fieldWidths) {
    FieldLayout layout;
    layout.numFields = static_cast<int32_t>(fieldWidths.size());
    int64_t total = 0;
    for (const int32_t w : fieldWidths) {
        if (w < 0 || w > 31) throwException(msgInvalidLayout);
        layout.offset.push_back(static_cast<int32_t>(total));
        layout.width.push_back(w);
        total += w;
    }
    if (total != static_cast<int64_t>(fieldVars.size())) throwException(msgInvalidLayout);
    layout.vars.assign(fieldVars.begin(), fieldVars.end());
    for (int32_t f = 0; f < layout.numFields; ++f)
        for (int32_t i = 0; i < layout.width[f]; ++i) {
            const int32_t v = layout.vars[static_cast<size_t>(layout.offset[f] + i)];
            if (v < 0 || v > maxInnerVar) throwException(msgInvalidLayout);
            layout.bits.push_back({v, f, layout.width[f] - 1 - i});
        }
    std::sort(layout.bits.begin(), layout.bits.end(), [](const LayoutBit& x, const LayoutBit& y) { return x.var < y.var; });
    for (size_t d = 1; d < layout.bits.size(); ++d)
        if (layout.bits[d].var == layout.bits[d - 1].var) throwException(msgInvalidLayout);
    return layout;
}

FieldLayout fieldLayoutOfRuns(int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth) {
    std::vector<int32_t> vars;
    std::vector<int32_t> widths(fieldWidth, fieldWidth + (numFields > 0 ? numFields : 0));
    for (int32_t f = 0; f < numFields; ++f) {
        if (fieldWidth[f] < 0 || fieldWidth[f] > 31 || fieldFirstVar[f] < 0) throwException(msgInvalidLayout);
        for (int32_t i = 0; i < fieldWidth[f]; ++i) vars.push_back(fieldFirstVar[f] + i);
    }
    return fieldLayoutOf(vars, widths);
}

namespace {

void checkValues(const FieldLayout& layout, const int32_t* values) {
    for (int32_t f = 0; f < layout.numFields; ++f)
        if (values[f] < 0 || (layout.width[f] < 31 && values[f] >= (int32_t{1} << layout.width[f])))
            throwException(msgTupleValue);
}

// Tuples as codes: bit d of a code (counted from the most significant bit of its first word) is
// the tuple's bit at the layout's d-th variable, so that codes compare like the tuples' order.
struct Codes {
    size_t words;  // per tuple
    std::vector<uint64_t> data;
    const uint64_t* at(size_t t) const { return data.data() + t * words; }
    static constexpr uint64_t bitMask(int32_t d) { return uint64_t{1} << (63 - d % 64); }
    bool bit(size_t t, int32_t d) const { return (at(t)[d / 64] & bitMask(d)) != 0; }
};

// The set of the sorted, distinct codes [begin, end), which agree on their first `depth` bits.
Node buildWork(const Codes& codes, const FieldLayout& layout, size_t begin, size_t end, int32_t depth) {
    if (depth == static_cast<int32_t>(layout.bits.size())) return manager.one;
    checkStack();
    size_t split = begin;
    for (size_t step = end - begin; step > 0;) {  // the first code with bit `depth` set
        const size_t half = step / 2;
        if (!codes.bit(split + half, depth)) {
            split += half + 1;
            step -= half + 1;
        } else {
            step = half;
        }
    }
    NodeHold hi{split < end ? buildWork(codes, layout, split, end, depth + 1) : manager.zero};
    const Node lo = begin < split ? buildWork(codes, layout, begin, split, depth + 1) : manager.zero;
    return cacheNode(layout.bits[static_cast<size_t>(depth)].var, lo, hi.release());
}

}  // namespace

Node makeFieldTuple(const FieldLayout& layout, const int32_t* values) {
    checkValues(layout, values);
    Node r = manager.one;
    for (auto b = layout.bits.rbegin(); b != layout.bits.rend(); ++b)
        r = ((values[b->field] >> b->shift) & 1) != 0 ? cacheNode(b->var, manager.zero, r) : cacheNode(b->var, r, manager.zero);
    return r;
}

Node addFieldTuples(Node node, const FieldLayout& layout, const int32_t* values, int64_t count) {
    if (count <= 0 || layout.numFields == 0) {
        if (count > 0) return manager.one;  // the empty tuple leaves every variable free
        incRefCount(node);
        return node;
    }
    const auto nbits = static_cast<int32_t>(layout.bits.size());
    Codes codes{static_cast<size_t>(nbits + 63) / 64 + (nbits == 0 ? 1 : 0), {}};
    codes.data.assign(static_cast<size_t>(count) * codes.words, 0);
    for (int64_t t = 0; t < count; ++t) {
        const int32_t* tuple = values + t * layout.numFields;
        checkValues(layout, tuple);
        uint64_t* code = codes.data.data() + static_cast<size_t>(t) * codes.words;
        for (int32_t d = 0; d < nbits; ++d) {
            const LayoutBit& b = layout.bits[static_cast<size_t>(d)];
            if (((tuple[b.field] >> b.shift) & 1) != 0) code[d / 64] |= Codes::bitMask(d);
        }
    }
    // Sorted and without repeats: one word a tuple sorts in place, longer codes through an index.
    size_t n = static_cast<size_t>(count);
    if (codes.words == 1) {
        std::sort(codes.data.begin(), codes.data.end());
        n = static_cast<size_t>(std::unique(codes.data.begin(), codes.data.end()) - codes.data.begin());
    } else {
        std::vector<uint32_t> order(n);
        std::iota(order.begin(), order.end(), 0u);
        const auto less = [&](uint32_t x, uint32_t y) {
            return std::lexicographical_compare(codes.at(x), codes.at(x) + codes.words, codes.at(y),
                                                codes.at(y) + codes.words);
        };
        std::sort(order.begin(), order.end(), less);
        Codes sorted{codes.words, {}};
        sorted.data.reserve(codes.data.size());
        for (size_t i = 0; i < n; ++i)
            if (i == 0 || less(order[i - 1], order[i]))
                sorted.data.insert(sorted.data.end(), codes.at(order[i]), codes.at(order[i]) + codes.words);
        n = sorted.data.size() / codes.words;
        codes = std::move(sorted);
    }
    NodeHold added{buildWork(codes, layout, 0, n, 0)};
    const Node result = unite(node, added.n);
    holdRelease(added.release());
    return result;
}

namespace {

// What stays the same through one listing.
struct ListWalk {
    const FieldLayout& layout;
    const int32_t* bounds;
    const TupleSink& sink;
    std::vector<uint8_t> startBit;  // the start tuple's bit at each depth; empty without a start
    bool after;
    int64_t remaining;
    std::vector<int32_t> values;  // of the tuple under construction
};

// Lists from `depth` on; `tight` while the bits so far are the start tuple's.
void listWork(ListWalk& w, Node node, int32_t depth, bool tight) {
    checkStack();
    if (depth == static_cast<int32_t>(w.layout.bits.size())) {
        if (node != manager.one) throwException(msgListWalk);  // tests a variable after the last field bit
        if (tight && w.after) return;                      // the start tuple itself
        w.sink.add(w.sink.context, w.values.data(), w.layout.numFields);
        --w.remaining;
        return;
    }
    const LayoutBit& b = w.layout.bits[static_cast<size_t>(depth)];
    const BddNode& r = nodeOf(node);
    Node branch[2] = {node, node};  // a variable the diagram leaves free: both values
    if (node != manager.one && r.var <= b.var) {
        if (r.var != b.var) throwException(msgListWalk);  // a variable of no field
        branch[0] = r.low;
        branch[1] = r.high;
    }
    const int32_t first = tight ? w.startBit[static_cast<size_t>(depth)] : 0;
    int32_t& value = w.values[static_cast<size_t>(b.field)];
    for (int32_t bit = first; bit <= 1 && w.remaining > 0; ++bit) {
        if (branch[bit] == manager.zero) continue;
        // A bit set can only raise the value, so a bound is met by the bits decided so far first.
        const int32_t with = value | (bit << b.shift);
        if (w.bounds != nullptr && with >= w.bounds[b.field]) continue;
        value = with;
        listWork(w, branch[bit], depth + 1, tight && bit == first);
        value &= ~(1 << b.shift);
    }
}

}  // namespace

int64_t listFieldTuples(Node node, const FieldLayout& layout, const int32_t* bounds, const int32_t* start, bool after,
                        int64_t maxTuples, const TupleSink& sink) {
    if (start != nullptr) checkValues(layout, start);
    if (node == manager.zero || maxTuples <= 0) return 0;
    if (bounds != nullptr)
        for (int32_t f = 0; f < layout.numFields; ++f)
            if (bounds[f] <= 0) return 0;
    ListWalk w{layout, bounds, sink, {}, after, maxTuples, std::vector<int32_t>(static_cast<size_t>(layout.numFields))};
    if (start != nullptr)
        for (const LayoutBit& b : layout.bits) w.startBit.push_back(static_cast<uint8_t>((start[b.field] >> b.shift) & 1));
    listWork(w, node, 0, start != nullptr);
    return maxTuples - w.remaining;
}
