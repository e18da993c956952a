// Fuzz target: the diagram stream reader, driven directly.
//
// The first byte chooses how the rest becomes a stream of ints and how it is read:
//   bit 1     0: raw little-endian ints; 1: diagrams built in the store from the bytes, written by
//             the writer, then edited by the remaining bytes (so that mutations of a valid stream
//             stay near-valid)
//   bit 3     collection rate 0 (no queue lock) instead of 1000
// Every stream is either refused with exactly "Assert failed: Malformed diagram stream", or read:
// then every root is the reduced, shared form of what the stream says (compared node by node with
// the stream's records, merged where they repeat). Afterwards the roots and the built diagrams are
// given back, and the store must drain to no live node.
#include "support/StoreCheck.h"
#include "engine/UniqueTable.h"
#include "serial/DiagramStream.h"

#include <climits>
#include <map>
#include <set>
#include <tuple>
#include <vector>

namespace {

constexpr StreamProgress noProgress{nullptr, nullptr, 1.0};

std::vector<int32_t> rawInts(const uint8_t* p, size_t n) {
    std::vector<int32_t> out;
    for (size_t i = 0; i + 4 <= n; i += 4)
        out.push_back(static_cast<int32_t>(uint32_t{p[i]} | uint32_t{p[i + 1]} << 8 | uint32_t{p[i + 2]} << 16 |
                                           uint32_t{p[i + 3]} << 24));
    return out;
}

// Diagrams over variables 0..7 built from the bytes: up to three nodes per level, children from
// the levels below. Each pool node carries one reference of ours.
struct Built {
    std::vector<Node> pool{manager.zero, manager.one};
    std::vector<Node> roots;
};

Built buildDiagrams(const uint8_t*& p, const uint8_t* end) {
    const auto next = [&]() -> uint8_t { return p < end ? *p++ : 0; };
    Built b;
    for (int32_t v = 7; v >= 0; --v) {
        const int below = static_cast<int>(b.pool.size());
        for (int i = 0, k = next() % 4; i < k; ++i) {
            const Node low = b.pool[next() % below], high = b.pool[next() % below];
            if (low == high) continue;
            incRefCount(low);
            incRefCount(high);
            b.pool.push_back(cacheNode(v, low, high));
        }
    }
    for (int j = 0, k = next() % 4; j < k; ++j) b.roots.push_back(b.pool[next() % b.pool.size()]);
    return b;
}

// Edits in groups of three bytes: position, kind, value.
void applyEdits(std::vector<int32_t>& s, const uint8_t* p, const uint8_t* end) {
    while (end - p >= 3 && !s.empty()) {
        const size_t at = p[0] % s.size();
        const int kind = p[1] % 11;
        const int32_t value = static_cast<int8_t>(p[2]);
        p += 3;
        switch (kind) {
        case 0: s[at] = value; break;
        case 1: s[at] = static_cast<int32_t>(static_cast<uint32_t>(s[at]) + 1); break;
        case 2: s[at] = static_cast<int32_t>(static_cast<uint32_t>(s[at]) - 1); break;
        case 3: s[at] = s[1]; break;
        case 4: s[at] = maxInnerVar + (value & 1); break;
        case 5: s[at] = value < 0 ? INT_MIN : INT_MAX; break;
        case 6: s.resize(at); break;
        case 7: s.push_back(value); break;
        case 8: {  // swap two records
            const size_t records = s.size() > 2 ? (s.size() - 2) / 4 : 0;
            if (records >= 2) {
                const size_t a = 2 + 4 * (at % records), b = 2 + 4 * (static_cast<size_t>(p[-1]) % records);
                for (int i = 0; i < 4; ++i) std::swap(s[a + i], s[b + i]);
            }
            break;
        }
        default: s[at] = s[at] ^ (1 << (value & 31)); break;
        }
    }
}

// The stream's diagrams in reduced form: records whose children turn out equal are merged away,
// and repeated triples share one entry.
struct Canonical {
    std::vector<int32_t> var{zeroVar, oneVar}, low{0, 0}, high{0, 0};
    std::map<std::tuple<int32_t, int32_t, int32_t>, int32_t> interned;
    std::map<int32_t, int32_t> ofNumber{{0, 0}, {1, 1}};

    explicit Canonical(const std::vector<int32_t>& s) {
        for (int32_t k = 0; k < s[1] - 2; ++k) {
            const size_t at = 2 + 4 * static_cast<size_t>(k);
            const int32_t lo = ofNumber.at(s[at + 2]), hi = ofNumber.at(s[at + 3]);
            if (lo == hi) {
                ofNumber[s[at]] = lo;
                continue;
            }
            const auto [it, fresh] = interned.emplace(std::make_tuple(s[at + 1], lo, hi), static_cast<int32_t>(var.size()));
            if (fresh) {
                var.push_back(s[at + 1]);
                low.push_back(lo);
                high.push_back(hi);
            }
            ofNumber[s[at]] = it->second;
        }
    }

    void expectSame(Node n, int32_t c, std::set<std::pair<Node, int32_t>>& done) const {
        if (!done.insert({n, c}).second) return;
        if (c < 2) {
            if (n != (c == 0 ? manager.zero : manager.one))
                finding("a read root differs from the stream: terminal expected");
            return;
        }
        if (isTerminal(n) || nodeOf(n).var != var[c]) finding("a read root differs from the stream at variable " + std::to_string(var[c]));
        expectSame(nodeOf(n).low, low[c], done);
        expectSame(nodeOf(n).high, high[c], done);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    const uint8_t* p = data + 1;
    const uint8_t* end = data + size;
    init(1 << 20, 1 << 20, (mode & 8) != 0 ? 0 : 1000, 1);

    Built built;
    std::vector<int32_t> stream;
    if ((mode & 2) == 0) {
        stream = rawInts(p, static_cast<size_t>(end - p));
    } else {
        if (errorOf([&] {
                built = buildDiagrams(p, end);
                const StreamInts s = writeDiagramStream(built.roots, noProgress);
                stream.assign(s.ints.get(), s.ints.get() + s.length);
            }) != "")
            finding("building the diagrams to write failed");
        applyEdits(stream, p, end);
    }

    std::vector<Node> roots;
    const std::string error = errorOf([&] {
        const StreamRoots r = readDiagramStream(stream, noProgress);
        if (!r.complete) finding("a read without progress reports did not complete");
        roots.assign(r.nodes.get(), r.nodes.get() + r.count);
    });
    if (!error.empty()) {
        if (error != msgMalformedStream) finding("a stream was refused with \"" + error + "\"");
    } else {
        if (static_cast<int32_t>(roots.size()) != stream[0]) finding("the read returned a different number of roots");
        const Canonical canonical(stream);
        std::set<std::pair<Node, int32_t>> done;
        const size_t rootsAt = stream.size() - roots.size();
        for (size_t j = 0; j < roots.size(); ++j) {
            if (!isLiveHandle(roots[j])) finding("a read root is not a live node");
            canonical.expectSame(roots[j], canonical.ofNumber.at(stream[rootsAt + j]), done);
        }
    }

    int32_t alive = 0;
    if (errorOf([&] {
            releaseNow(roots.data(), static_cast<int32_t>(roots.size()));
            releaseNow(built.pool.data() + 2, static_cast<int32_t>(built.pool.size()) - 2);
            alive = drainStore();
        }) != "")
        finding("giving the roots and the built diagrams back failed");
    if (alive != 0) finding(std::to_string(alive) + " nodes alive once everything was given back");
    return 0;
}
