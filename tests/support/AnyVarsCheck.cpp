#include "support/AnyVarsCheck.h"

#include "engine/UniqueTable.h"
#include "support/StoreCheck.h"
#include "ops/AnyVars.h"
#include "ops/SetOps.h"
#include "serial/Describe.h"
#include "serial/DiagramStream.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// The input, read a byte at a time; zeros once it is used up.
struct Bytes {
    const uint8_t* p;
    const uint8_t* end;
    uint8_t next() { return p < end ? *p++ : 0; }
    int below(int n) { return n <= 1 ? 0 : next() % n; }
    bool done() const { return p >= end; }
};

using Table = std::vector<bool>;  // a function of the chosen variables: its value on each assignment

struct Session {
    Bytes& in;
    std::vector<int32_t> vars;  // variable of assignment bit i
    std::vector<int> indexOf = std::vector<int>(zeroVar, -1);
    uint32_t assignments = 0;
    std::vector<Node> held;  // every result, with the reference it came with
    std::vector<std::pair<Node, Table>> pool;

    explicit Session(Bytes& bytes) : in(bytes) {
        std::vector<int32_t> free(20);
        std::iota(free.begin(), free.end(), 0);
        const int n = 2 + in.below(9);
        for (int i = 0; i < n; ++i) {
            const auto at = static_cast<size_t>(in.below(static_cast<int>(free.size())));
            vars.push_back(free[at]);
            indexOf[static_cast<size_t>(free[at])] = i;
            free.erase(free.begin() + static_cast<long>(at));
        }
        assignments = 1u << n;
        pool.push_back({manager.zero, Table(assignments, false)});
        pool.push_back({manager.one, Table(assignments, true)});
        for (int i = 0; i < n; ++i) {
            Table t(assignments);
            for (uint32_t a = 0; a < assignments; ++a) t[a] = ((a >> i) & 1) != 0;
            keep("a variable", cacheNode(vars[static_cast<size_t>(i)], manager.zero, manager.one), t);
        }
    }

    bool eval(Node node, uint32_t a) const {
        while (!isTerminal(node)) {
            const BddNode& r = nodeOf(node);
            const int i = indexOf[static_cast<size_t>(r.var)];
            if (i < 0) finding("a result tests variable " + std::to_string(r.var) + ", which no operand tests");
            node = ((a >> i) & 1) != 0 ? r.high : r.low;
        }
        return node == manager.one;
    }

    // Takes the result's reference and checks it against the expected function.
    Node keep(const char* what, Node result, const Table& expected) {
        held.push_back(result);
        for (uint32_t a = 0; a < assignments; ++a)
            if (eval(result, a) != expected[a]) finding(std::string(what) + " differs from the model at assignment " + std::to_string(a));
        if (pool.size() < 24) pool.push_back({result, expected});
        else pool[static_cast<size_t>(in.below(24))] = {result, expected};
        return result;
    }

    const std::pair<Node, Table>& pick() { return pool[static_cast<size_t>(in.below(static_cast<int>(pool.size())))]; }

    // Some of the chosen variables, as assignment bits; `count` of them when given.
    std::vector<int> someBits(int count = -1) {
        std::vector<int> bits(vars.size());
        std::iota(bits.begin(), bits.end(), 0);
        for (size_t i = bits.size(); i > 1; --i) std::swap(bits[i - 1], bits[static_cast<size_t>(in.below(static_cast<int>(i)))]);
        bits.resize(static_cast<size_t>(count >= 0 ? count : in.below(static_cast<int>(vars.size()) + 1)));
        return bits;
    }

    std::vector<int32_t> varsOf(const std::vector<int>& bits) const {
        std::vector<int32_t> v;
        for (const int b : bits) v.push_back(vars[static_cast<size_t>(b)]);
        return v;
    }

    // The value of a field (its bits, most significant first) in an assignment.
    static int64_t valueOf(const std::vector<int>& field, uint32_t a) {
        int64_t v = 0;
        for (const int b : field) v = v << 1 | ((a >> b) & 1);
        return v;
    }

    Table quantified(Table t, const std::vector<int>& bits) const {
        for (const int b : bits)
            for (uint32_t a = 0; a < assignments; ++a) t[a] = t[a] || t[a ^ (1u << b)];
        return t;
    }

    void step();
    void fieldTuples();
};

void Session::step() {
    const auto& [f, ft] = pick();
    const auto& [g, gt] = pick();
    const auto& [h, ht] = pick();
    Table t(assignments);
    switch (in.below(7)) {
    case 0:
        for (uint32_t a = 0; a < assignments; ++a) t[a] = ft[a] ? gt[a] : ht[a];
        keep("ite", ite(f, g, h), t);
        break;
    case 1: {
        const std::vector<int> bits = someBits();
        NodeHold cube{makeCube(varsOf(bits))};
        keep("existsSet", existsSet(f, cube.n), quantified(ft, bits));
        holdRelease(cube.release());
        break;
    }
    case 2: {
        const std::vector<int> bits = someBits();
        NodeHold cube{makeCube(varsOf(bits))};
        for (uint32_t a = 0; a < assignments; ++a) t[a] = ft[a] && gt[a];
        keep("relprodSet", relprodSet(f, g, cube.n), quantified(t, bits));
        holdRelease(cube.release());
        break;
    }
    case 3: {
        // A one-to-one map of some variables onto some variables: permutations, moves onto
        // variables the function tests, and everything between.
        const std::vector<int> sources = someBits();
        const std::vector<int> targets = someBits(static_cast<int>(sources.size()));
        const int32_t id = registerVarMap(varsOf(sources), varsOf(targets));
        for (uint32_t a = 0; a < assignments; ++a) {
            uint32_t from = a;
            for (size_t i = 0; i < sources.size(); ++i)
                from = (from & ~(1u << sources[i])) | (((a >> targets[i]) & 1) << sources[i]);
            t[a] = ft[from];
        }
        keep("replaceVars", replaceVars(f, id), t);
        break;
    }
    case 4: {
        const std::vector<int> field = someBits(1 + in.below(static_cast<int>(vars.size())));
        const int64_t lo = static_cast<int8_t>(in.next()) / 4, hi = static_cast<int8_t>(in.next());
        for (uint32_t a = 0; a < assignments; ++a) t[a] = valueOf(field, a) >= lo && valueOf(field, a) <= hi;
        keep("makeRange", makeRange(varsOf(field), lo, hi), t);
        break;
    }
    case 5: {
        const int w = 1 + in.below(static_cast<int>(vars.size()) / 2);
        const std::vector<int> both = someBits(2 * w);
        const std::vector<int> a(both.begin(), both.begin() + w), b(both.begin() + w, both.end());
        const int64_t k = static_cast<int8_t>(in.next()) % (1 << w);
        const bool equal = in.below(2) == 0;
        for (uint32_t x = 0; x < assignments; ++x)
            t[x] = equal ? valueOf(a, x) == valueOf(b, x) : valueOf(b, x) == valueOf(a, x) + k;
        keep(equal ? "makeFieldsEqual" : "makePlus", equal ? makeFieldsEqual(varsOf(a), varsOf(b)) : makePlus(varsOf(a), varsOf(b), k), t);
        break;
    }
    default:
        fieldTuples();
        break;
    }
}

// A random layout over some of the variables: tuples added to a set, counted and listed in pages.
void Session::fieldTuples() {
    std::vector<int> bits = someBits(1 + in.below(static_cast<int>(vars.size())));
    std::vector<std::vector<int>> fields;
    while (!bits.empty()) {
        const auto w = static_cast<size_t>(1 + in.below(static_cast<int>(bits.size())));
        fields.emplace_back(bits.begin(), bits.begin() + static_cast<long>(w));
        bits.erase(bits.begin(), bits.begin() + static_cast<long>(w));
    }
    std::vector<int32_t> layoutVars, widths;
    for (const auto& field : fields) {
        for (const int b : field) layoutVars.push_back(vars[static_cast<size_t>(b)]);
        widths.push_back(static_cast<int32_t>(field.size()));
    }
    const FieldLayout layout = fieldLayoutOf(layoutVars, widths);
    const auto tupleOf = [&](uint32_t a) {
        std::vector<int32_t> t;
        for (const auto& field : fields) t.push_back(static_cast<int32_t>(valueOf(field, a)));
        return t;
    };

    // Tuples added to a set of the pool that tests only the layout's variables (or to `zero`).
    const auto& [base, baseTable] = pick();
    const bool onLayout = std::all_of(vars.begin(), vars.end(), [&](int32_t v) {
        return std::find(layoutVars.begin(), layoutVars.end(), v) != layoutVars.end();
    });
    Node start = onLayout ? base : manager.zero;
    Table t = onLayout ? baseTable : Table(assignments, false);
    std::vector<int32_t> values;
    const int count = in.below(6);
    for (int i = 0; i < count; ++i) {
        const uint32_t a = in.next() % assignments;
        const std::vector<int32_t> tuple = tupleOf(a);
        values.insert(values.end(), tuple.begin(), tuple.end());
        for (uint32_t x = 0; x < assignments; ++x) t[x] = t[x] || tupleOf(x) == tuple;
    }
    const Node set = keep("addFieldTuples", count == 1 && start == manager.zero ? makeFieldTuple(layout, values.data())
                                                                       : addFieldTuples(start, layout, values.data(), count), t);

    // The tuples in the layout's order: by the bit of the lowest variable first.
    uint32_t layoutBits = 0;
    for (const auto& field : fields)
        for (const int b : field) layoutBits |= 1u << b;
    std::vector<uint32_t> members;
    for (uint32_t a = 0; a < assignments; ++a)
        if (t[a] && (a & ~layoutBits) == 0) members.push_back(a);
    const auto key = [&](uint32_t a) {
        std::vector<std::pair<int32_t, int>> byVar;
        for (const auto& field : fields)
            for (const int b : field) byVar.push_back({vars[static_cast<size_t>(b)], static_cast<int>((a >> b) & 1)});
        std::sort(byVar.begin(), byVar.end());
        uint64_t k = 0;
        for (const auto& [v, bit] : byVar) k = k << 1 | static_cast<uint64_t>(bit);
        return k;
    };
    std::sort(members.begin(), members.end(), [&](uint32_t x, uint32_t y) { return key(x) < key(y); });

    const std::vector<uint32_t> limbs = exactNumOfTuples(set, layout);
    const uint64_t counted = limbs.empty() ? 0 : limbs[0] | (limbs.size() > 1 ? uint64_t{limbs[1]} << 32 : 0);
    if (counted != members.size()) finding("the exact count differs from the model");

    // Listed in pages of random length, each beginning after the last tuple of the one before,
    // within random bounds.
    std::vector<int32_t> bounds;
    for (const auto& field : fields) bounds.push_back(in.below(3) == 0 ? 1 + in.below(1 << field.size()) : 1 << field.size());
    std::vector<std::vector<int32_t>> expected, listed;
    for (const uint32_t a : members) {
        const std::vector<int32_t> tuple = tupleOf(a);
        bool inBounds = true;
        for (size_t f = 0; f < tuple.size(); ++f) inBounds = inBounds && tuple[f] < bounds[f];
        if (inBounds) expected.push_back(tuple);
    }
    struct Sink {
        std::vector<std::vector<int32_t>>* out;
        static void add(void* c, const int32_t* v, int32_t n) { static_cast<Sink*>(c)->out->emplace_back(v, v + n); }
    } sink{&listed};
    for (size_t pages = 0; pages <= members.size(); ++pages) {
        const size_t before = listed.size();
        const std::vector<int32_t> from = listed.empty() ? std::vector<int32_t>() : listed.back();
        listFieldTuples(set, layout, bounds.data(), listed.empty() ? nullptr : from.data(), !listed.empty(),
                        1 + in.below(4), {Sink::add, &sink});
        if (listed.size() == before) break;
    }
    if (listed != expected) {
        auto dump = [](const std::vector<std::vector<int32_t>>& l) { std::string s; for (auto& tu : l) { s += "("; for (auto v : tu) s += std::to_string(v) + ","; s += ")"; } return s; };
        std::string lay; for (size_t f = 0; f < fields.size(); ++f) { lay += "["; for (int b : fields[f]) lay += std::to_string(vars[b]) + " "; lay += "]<" + std::to_string(bounds[f]) + " "; }
        finding("the listing in pages differs from the model's tuples in order: layout " + lay + " expected " + dump(expected) + " listed " + dump(listed));
    }
}

}  // namespace

void checkAnyVarsInput(const uint8_t* data, size_t size) {
    Bytes in{data, data + size};
    const uint8_t mode = in.next();
    init((mode & 1) != 0 ? 256 : 1 << 16, (mode & 2) != 0 ? 256 : 1 << 16, (mode & 4) != 0 ? 0 : 1000, 1);
    {
        Session s(in);
        const std::string error = errorOf([&] {
            for (int steps = 0; steps < 40 && !in.done(); ++steps) s.step();
        });
        if (!error.empty()) finding("an operation was refused: " + error);
        checkStoreSound();
        // The description of the results is what the stream writer writes for them (the writer
        // renumbers the stamps, so it comes last).
        const std::vector<int32_t> described = describeDiagrams(s.held);
        const StreamInts written = writeDiagramStream(s.held, {nullptr, nullptr, 1.0});
        if (described != std::vector<int32_t>(written.ints.get(), written.ints.get() + written.length))
            finding("the description of the results differs from their stream");
        releaseNow(s.held.data(), static_cast<int32_t>(s.held.size()));
    }
    flushHeldReleases();
    if (const int32_t alive = drainStore(); alive != 0)
        finding(std::to_string(alive) + " nodes alive once everything was given back");
}
