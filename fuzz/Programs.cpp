#include "Programs.h"

#include "FakeJni.h"
#include "Natives.h"
#include "StoreCheck.h"
#include "engine/BDDNativeImpl.h"
#include "serial/DiagramStream.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <map>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using fakejni::env;
using Assignment = uint32_t;       // bit v is the value of variable v
using Model = std::set<Assignment>;
using Tuple = std::vector<int32_t>;

constexpr const char* invalidHandle = "Assert failed: Invalid node handle";
constexpr const char* invalidVariable = "Assert failed: Invalid variable";
constexpr const char* invalidLayout = "Assert failed: Invalid tuple layout";
constexpr const char* orderViolated = "Assert failed: Variable order violated";
constexpr int slotCount = 6;

// ---- The program's state --------------------------------------------------------------------------
struct Layout {
    std::vector<int32_t> first, width;
    int nv = 0;               // variables of the universe
    uint32_t fieldVars = 0;   // mask of the field variables
    int fields() const { return static_cast<int>(first.size()); }
};

struct Slot {
    bool used = false;
    jint handle = 0;
    Model set;
};

struct Reader {
    const uint8_t* p;
    size_t n, i = 0;
    bool done() const { return i >= n; }
    uint8_t byte() { return i < n ? p[i++] : 0; }
    int below(int k) { return k <= 0 ? 0 : byte() % k; }
};

Layout layout;
Slot slots[slotCount];
std::vector<jint> stale;  // handles given back by the program
bool gcOn = true;
std::vector<std::string> trace;
int32_t reportedAlive = 0;

// The operation cache names a run by its first variable alone, so a caller pairs each first
// variable with one run length: one pairing for `exists` and `relprod` (which calls `exists`), one
// for renaming (keyed by the first variable and the offset).
std::map<int32_t, int32_t> quantifiedRun;
std::map<std::pair<int32_t, int32_t>, int32_t> renamedRun;

int32_t pairedRun(int32_t first, int32_t numVars) {
    if (numVars <= 0) return numVars;  // an empty run reaches no cache entry
    return quantifiedRun.emplace(first, numVars).first->second;
}

std::string show(const Model& s);

// The nodes below h as "handle:var(low,high)", each once.
std::string showDiagram(Node h) {
    std::string out;
    std::set<Node> seen;
    std::vector<Node> todo{h};
    while (!todo.empty() && seen.size() < 64) {
        const Node n = todo.back();
        todo.pop_back();
        if (isTerminal(n) || !seen.insert(n).second) continue;
        const BddNode& r = nodeOf(n);
        out += " " + std::to_string(n) + ":" + std::to_string(r.var) + "(" + std::to_string(r.low) + "," + std::to_string(r.high) + ")";
        todo.push_back(r.high);
        todo.push_back(r.low);
    }
    return out;
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "program trace (layout:");
    for (int f = 0; f < layout.fields(); ++f) std::fprintf(stderr, " [%d,+%d)", layout.first[f], layout.width[f]);
    std::fprintf(stderr, ", gc %s):\n", gcOn ? "on" : "off");
    for (const auto& t : trace) std::fprintf(stderr, "  %s\n", t.c_str());
    std::fprintf(stderr, "slots (zero %u, one %u):\n", zero, one);
    for (int i = 0; i < slotCount; ++i)
        if (slots[i].used)
            std::fprintf(stderr, "  %d: handle %d, %s;%s\n", i, slots[i].handle, show(slots[i].set).c_str(),
                         showDiagram(static_cast<Node>(slots[i].handle)).c_str());
    fakejni::finding(what);
}

// ---- Calling the natives --------------------------------------------------------------------------
std::string lastError;

void takeError() {
    const fakejni::PendingException e = fakejni::takeException();
    if (e.className.empty()) lastError.clear();
    else if (e.className == "com/zvk/quarnelbrisk/bdd/nativeproxy/NativeBDDException") lastError = e.message;
    else lastError = e.className + ": " + e.message;
}

template <class F>
auto call(F f) {
    fakejni::beginNativeCall();
    using R = decltype(f(env()));
    if constexpr (std::is_void_v<R>) {
        f(env());
        fakejni::endNativeCall();
        takeError();
    } else {
        const R r = f(env());
        if constexpr (std::is_pointer_v<R>) fakejni::endNativeCall(r);
        else fakejni::endNativeCall();
        takeError();
        return r;
    }
}

void expectOk(const std::string& what) {
    if (!lastError.empty()) fail(what + " was refused: " + lastError);
}

void expectError(const std::string& what, const char* message) {
    if (lastError != message) fail(what + ": expected \"" + message + "\", got \"" + lastError + "\"");
}

jintArray ints(const std::vector<int32_t>& v) { return fakejni::newHostIntArray(v); }

// ---- The model ------------------------------------------------------------------------------------
uint32_t universe() { return uint32_t{1} << layout.nv; }

Model fullSet() {
    Model m;
    for (Assignment a = 0; a < universe(); ++a) m.insert(m.end(), a);
    return m;
}

Model where(const std::function<bool(Assignment)>& keep) {
    Model m;
    for (Assignment a = 0; a < universe(); ++a)
        if (keep(a)) m.insert(m.end(), a);
    return m;
}

bool bit(Assignment a, int v) { return ((a >> v) & 1) != 0; }

// Variables v with bit value of field value: most significant bit at the field's first variable.
bool fieldMatches(Assignment a, int32_t first, int32_t width, int32_t value) {
    for (int32_t i = 0; i < width; ++i)
        if (bit(a, first + width - 1 - i) != (((value >> i) & 1) != 0)) return false;
    return true;
}

Model singleTuple(const Tuple& values) {
    return where([&](Assignment a) {
        for (int f = 0; f < layout.fields(); ++f)
            if (!fieldMatches(a, layout.first[f], layout.width[f], values[f])) return false;
        return true;
    });
}

uint32_t runMask(int64_t first, int64_t numVars) {
    uint32_t m = 0;
    for (int64_t v = std::max<int64_t>(first, 0); v < first + numVars && v < layout.nv; ++v) m |= uint32_t{1} << v;
    return m;
}

Model existsMask(const Model& s, uint32_t mask) {
    Model out;
    for (const Assignment a : s) {
        const Assignment base = a & ~mask;
        for (Assignment sub = mask;; sub = (sub - 1) & mask) {  // every subset of the mask
            out.insert(base | sub);
            if (sub == 0) break;
        }
    }
    return out;
}

uint32_t support(const Model& s) {
    uint32_t m = 0;
    for (const Assignment a : s)
        for (int v = 0; v < layout.nv; ++v)
            if (!s.contains(a ^ (uint32_t{1} << v))) m |= uint32_t{1} << v;
    return m;
}

// The size of the reduced ordered diagram of s (order 0 .. V-1), inner nodes only: the distinct
// subfunctions at each level that depend on the level's variable.
int32_t reducedSize(const Model& s) {
    std::vector<uint8_t> tt(universe(), 0);
    for (const Assignment a : s) tt[a] = 1;
    int32_t nodes = 0;
    for (int i = 0; i < layout.nv; ++i) {
        std::set<std::string> seen;
        const uint32_t rest = uint32_t{1} << (layout.nv - i);
        for (uint32_t p = 0; p < (uint32_t{1} << i); ++p) {
            std::string g(rest, '0');
            for (uint32_t q = 0; q < rest; ++q) g[q] = static_cast<char>('0' + tt[p | (q << i)]);
            bool depends = false;
            for (uint32_t q = 0; q < rest && !depends; q += 2) depends = g[q] != g[q + 1];
            if (depends) seen.insert(g);
        }
        nodes += static_cast<int32_t>(seen.size());
    }
    return nodes;
}

std::set<Tuple> tuplesOf(const Model& s) {
    std::set<Tuple> out;
    for (const Assignment a : s) {
        Tuple t;
        for (int f = 0; f < layout.fields(); ++f) {
            int32_t v = 0;
            for (int32_t i = 0; i < layout.width[f]; ++i) v = v << 1 | (bit(a, layout.first[f] + i) ? 1 : 0);
            t.push_back(v);
        }
        out.insert(t);
    }
    return out;
}

std::string show(const Model& s) {
    std::string out = "{";
    int k = 0;
    for (const Tuple& t : tuplesOf(s)) {
        if (k++ == 8) {
            out += " ...";
            break;
        }
        out += " (";
        for (size_t f = 0; f < t.size(); ++f) out += (f ? "," : "") + std::to_string(t[f]);
        out += ")";
    }
    return out + " } " + std::to_string(s.size()) + " assignments";
}

// ---- Comparing the engine with the model ------------------------------------------------------------
bool engineHolds(Node n, Assignment a) {
    while (!isTerminal(n)) {
        const BddNode& r = nodeOf(n);
        if (r.var < 0 || r.var >= layout.nv) fail("a diagram tests variable " + std::to_string(r.var) + " outside the universe");
        n = bit(a, r.var) ? r.high : r.low;
    }
    return n == one;
}

void checkDiagram(jint h, const Model& expected, const std::string& what) {
    if (!isLiveHandle(h)) fail(what + ": result " + std::to_string(h) + " is not a live node");
    for (Assignment a = 0; a < universe(); ++a)
        if (engineHolds(static_cast<Node>(h), a) != expected.contains(a))
            fail(what + ": the diagram differs from the model " + show(expected) + " at assignment " + std::to_string(a));
}

void checkCanonical() {
    for (int i = 0; i < slotCount; ++i) {
        if (!slots[i].used) continue;
        if (!isLiveHandle(slots[i].handle)) fail("slot " + std::to_string(i) + " holds a reference on a node that is no longer live");
        for (int j = i + 1; j < slotCount; ++j)
            if (slots[j].used && (slots[i].handle == slots[j].handle) != (slots[i].set == slots[j].set))
                fail("canonicity: slots " + std::to_string(i) + " and " + std::to_string(j) + " have handles " +
                     std::to_string(slots[i].handle) + " and " + std::to_string(slots[j].handle) + " for sets " +
                     show(slots[i].set) + " and " + show(slots[j].set));
    }
}

void checkAllSlots(const std::string& what) {
    for (int i = 0; i < slotCount; ++i)
        if (slots[i].used) checkDiagram(slots[i].handle, slots[i].set, what + ", slot " + std::to_string(i));
}

// ---- Slots ------------------------------------------------------------------------------------------
void release(int i) {
    Slot& s = slots[i];
    if (!s.used) return;
    call([&](JNIEnv* e) { Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doDecRefCount(e, nullptr, s.handle); });
    expectOk("doDecRefCount of slot " + std::to_string(i));
    if (stale.size() < 16) stale.push_back(s.handle);
    s.used = false;
    s.set.clear();
}

void store(int d, jint h, Model m, const std::string& what) {
    checkDiagram(h, m, what);
    release(d);
    slots[d] = {true, h, std::move(m)};
    checkCanonical();
}

int pickUsed(Reader& in) {
    const int start = in.below(slotCount);
    for (int k = 0; k < slotCount; ++k)
        if (slots[(start + k) % slotCount].used) return (start + k) % slotCount;
    return -1;
}

Tuple readTuple(Reader& in) {
    Tuple t;
    for (int f = 0; f < layout.fields(); ++f) t.push_back(static_cast<int8_t>(in.byte()));
    return t;
}

// The store's figures that a refused call must leave as they were.
struct Figures {
    int32_t alive, total, queued, opOccupied, gcCounter;
    uint32_t serial;
    Node freeHead;
    std::vector<uint16_t> counts;
    bool operator==(const Figures&) const = default;
};

Figures figures() {
    Figures f{nodeCacheOccupied, totalNodesAllocated, finalizedNodesPos, opCacheOccupied, garbageCollectCounter,
              curSerialID, firstFreeNode, {}};
    for (const Slot& s : slots)
        if (s.used) f.counts.push_back(nodeOf(static_cast<Node>(s.handle)).countWord);
    return f;
}

// ---- The operations -----------------------------------------------------------------------------------
std::string describe(const char* op, std::initializer_list<int64_t> args) {
    std::string s = op;
    s += "(";
    bool firstArg = true;
    for (const int64_t a : args) {
        s += (firstArg ? "" : ", ") + std::to_string(a);
        firstArg = false;
    }
    return s + ")";
}

void opMakeSingleTuple(Reader& in) {
    const int d = in.below(slotCount);
    const Tuple t = readTuple(in);
    trace.push_back(describe("makeSingleTuple", {d, t[0], t[1]}));
    const jint h = call([&](JNIEnv* e) {
        return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doMakeSingleTuple(
            e, nullptr, ints(layout.first), ints(layout.width), ints(t));
    });
    expectOk(trace.back());
    store(d, h, singleTuple(t), trace.back());
}

void opMakeUnary(Reader& in) {
    const int d = in.below(slotCount);
    const int32_t width = in.below(4);
    const int32_t first = in.below(layout.nv - width + 1);
    const int32_t value = static_cast<int8_t>(in.byte());
    trace.push_back(describe("makeSingleTupleUnary", {d, first, width, value}));
    const jint h = call([&](JNIEnv* e) {
        return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doMakeSingleTupleUnary(e, nullptr, first,
                                                                                                      width, value);
    });
    expectOk(trace.back());
    store(d, h, where([&](Assignment a) { return fieldMatches(a, first, width, value); }), trace.back());
}

void opMakeEquals(Reader& in) {
    const int d = in.below(slotCount);
    const int32_t x = in.below(layout.nv);
    const int32_t y = (x + 1 + in.below(layout.nv - 1)) % layout.nv;
    trace.push_back(describe("makeEquals", {d, x, y}));
    const jint h = call(
        [&](JNIEnv* e) { return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doMakeEquals(e, nullptr, x, y); });
    expectOk(trace.back());
    store(d, h, where([&](Assignment a) { return bit(a, x) == bit(a, y); }), trace.back());
}

void opAddTuple(Reader& in) {
    const int s = pickUsed(in);
    const int d = in.below(slotCount);
    const Tuple t = readTuple(in);
    if (s < 0) return;
    trace.push_back(describe("addTuple", {s, d, t[0], t[1]}));
    const jint h = call([&](JNIEnv* e) {
        return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doAddTuple(e, nullptr, slots[s].handle,
                                                                                  ints(layout.first), ints(layout.width), ints(t));
    });
    expectOk(trace.back());
    Model m = slots[s].set;
    const Model single = singleTuple(t);
    m.insert(single.begin(), single.end());
    store(d, h, std::move(m), trace.back());
}

void opBinary(Reader& in, int kind) {
    const int a = pickUsed(in);
    const int b = pickUsed(in);
    const int d = in.below(slotCount);
    if (a < 0) return;
    const Model& ma = slots[a].set;
    const Model& mb = slots[b].set;
    Model m;
    jint h;
    if (kind == 0) {
        trace.push_back(describe("unite", {a, b, d}));
        h = call([&](JNIEnv* e) {
            return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doUnite(e, nullptr, slots[a].handle, slots[b].handle);
        });
        std::set_union(ma.begin(), ma.end(), mb.begin(), mb.end(), std::inserter(m, m.end()));
    } else {
        trace.push_back(describe("intersect", {a, b, d}));
        h = call([&](JNIEnv* e) {
            return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doIntersect(e, nullptr, slots[a].handle,
                                                                                       slots[b].handle);
        });
        std::set_intersection(ma.begin(), ma.end(), mb.begin(), mb.end(), std::inserter(m, m.end()));
    }
    expectOk(trace.back());
    store(d, h, std::move(m), trace.back());
}

void opComplement(Reader& in) {
    const int s = pickUsed(in);
    const int d = in.below(slotCount);
    if (s < 0) return;
    trace.push_back(describe("complement", {s, d}));
    const jint h = call(
        [&](JNIEnv* e) { return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doComplement(e, nullptr, slots[s].handle); });
    expectOk(trace.back());
    const Model& ms = slots[s].set;
    store(d, h, where([&](Assignment a) { return !ms.contains(a); }), trace.back());
}

void opExists(Reader& in, bool oneVar) {
    const int s = pickUsed(in);
    const int d = in.below(slotCount);
    const int32_t first = in.below(layout.nv + 1);
    const int32_t numVars = oneVar ? 1 : pairedRun(first, in.below(layout.nv + 3) - 1);
    if (s < 0) return;
    jint h;
    if (oneVar) {
        trace.push_back(describe("existsVar", {s, d, first}));
        h = call([&](JNIEnv* e) {
            return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doExistsVar(e, nullptr, slots[s].handle, first);
        });
    } else {
        trace.push_back(describe("exists", {s, d, first, numVars}));
        h = call([&](JNIEnv* e) {
            return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doExists(e, nullptr, slots[s].handle, first, numVars);
        });
    }
    expectOk(trace.back());
    store(d, h, existsMask(slots[s].set, runMask(first, numVars)), trace.back());
}

void opRelprod(Reader& in) {
    const int a = pickUsed(in);
    const int b = pickUsed(in);
    const int d = in.below(slotCount);
    const int32_t first = in.below(layout.nv + 1);
    const int32_t numVars = pairedRun(first, in.below(layout.nv + 3) - 1);
    if (a < 0) return;
    trace.push_back(describe("relprod", {a, b, d, first, numVars}));
    const jint h = call([&](JNIEnv* e) {
        return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doRelprod(e, nullptr, slots[a].handle, slots[b].handle,
                                                                                 first, numVars);
    });
    expectOk(trace.back());
    Model both;
    std::set_intersection(slots[a].set.begin(), slots[a].set.end(), slots[b].set.begin(), slots[b].set.end(),
                          std::inserter(both, both.end()));
    store(d, h, existsMask(both, runMask(first, numVars)), trace.back());
}

// Renaming moves [first, first + numVars) by offset, inside the universe. The result is the
// substitution; the engine may refuse it only when the move is not order-preserving on the
// variables the set depends on.
void opRename(Reader& in) {
    const int s = pickUsed(in);
    const int d = in.below(slotCount);
    const int32_t first = in.below(layout.nv);
    int32_t numVars = in.below(layout.nv - first + 1);
    const int32_t offset = in.below(layout.nv - std::max(numVars, 1) + 1) - first;
    if (numVars > 0) numVars = renamedRun.emplace(std::make_pair(first, offset), numVars).first->second;
    if (s < 0) return;
    trace.push_back(describe("rename", {s, d, first, numVars, offset}));
    const jint h = call([&](JNIEnv* e) {
        return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doRename(e, nullptr, slots[s].handle, first, numVars,
                                                                                offset);
    });
    const auto moved = [&](int v) { return numVars > 0 && v >= first && v < first + numVars ? v + offset : v; };
    const Model& ms = slots[s].set;
    const uint32_t sup = support(ms);
    bool monotone = true;
    int previous = -1;
    for (int v = 0; v < layout.nv; ++v)
        if ((sup >> v) & 1) {
            if (moved(v) <= previous) monotone = false;
            previous = moved(v);
        }
    if (!lastError.empty()) {
        if (monotone || lastError != orderViolated)
            fail(trace.back() + " was refused: " + lastError + (monotone ? " (the move keeps the order)" : ""));
        trace.back() += " refused";
        return;
    }
    Model m = where([&](Assignment x) {
        Assignment y = 0;
        for (int v = 0; v < layout.nv; ++v)
            if (bit(x, moved(v))) y |= uint32_t{1} << v;
        return ms.contains(y);
    });
    store(d, h, std::move(m), trace.back());
}

void opSuperset(Reader& in) {
    const int a = pickUsed(in);
    const int b = pickUsed(in);
    if (a < 0) return;
    trace.push_back(describe("superset", {a, b}));
    const jboolean r = call([&](JNIEnv* e) {
        return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doSuperset(e, nullptr, slots[a].handle, slots[b].handle);
    });
    expectOk(trace.back());
    const bool want = std::includes(slots[a].set.begin(), slots[a].set.end(), slots[b].set.begin(), slots[b].set.end());
    if ((r != JNI_FALSE) != want) fail(trace.back() + " answered " + std::to_string(r));
}

void opTestVars(Reader& in) {
    const int s = pickUsed(in);
    const int32_t first = in.below(layout.nv + 3) - 2;
    const int32_t numVars = in.below(layout.nv + 3) - 1;
    if (s < 0) return;
    trace.push_back(describe("testVars", {s, first, numVars}));
    const jboolean r = call([&](JNIEnv* e) {
        return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doTestVars(e, nullptr, slots[s].handle, first, numVars);
    });
    expectOk(trace.back());
    const bool want = (support(slots[s].set) & runMask(first, numVars)) != 0;
    if ((r != JNI_FALSE) != want) fail(trace.back() + " answered " + std::to_string(r) + " for " + show(slots[s].set));
}

void opNodeCount(Reader& in) {
    const int s = pickUsed(in);
    if (s < 0) return;
    trace.push_back(describe("getNumOfNodes", {s}));
    const jint r = call([&](JNIEnv* e) {
        return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doGetNumOfNodes(e, nullptr, slots[s].handle);
    });
    expectOk(trace.back());
    const int32_t want = reducedSize(slots[s].set);
    if (r != want) fail(trace.back() + " gave " + std::to_string(r) + ", the reduced diagram has " + std::to_string(want));
}

// Counting and listing read the set through the layout; a set that depends on a gap variable is
// refused by both (listing then with every bound open and no limit, so that it meets the node).
void opCount(Reader& in) {
    const int s = pickUsed(in);
    if (s < 0) return;
    trace.push_back(describe("getNumOfTuples", {s}));
    const jint r = call([&](JNIEnv* e) {
        return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doGetNumOfTuples(
            e, nullptr, slots[s].handle, ints(layout.first), ints(layout.width), ints(layout.width));
    });
    if ((support(slots[s].set) & ~layout.fieldVars) != 0) {
        expectError(trace.back() + " of a set testing a gap", "Assert failed: BDDNativeImpl.getNumOfTuples");
        return;
    }
    expectOk(trace.back());
    const auto want = static_cast<jint>(tuplesOf(slots[s].set).size());
    if (r != want) fail(trace.back() + " gave " + std::to_string(r) + ", the model has " + std::to_string(want));
}

void opList(Reader& in) {
    const int s = pickUsed(in);
    std::vector<int32_t> bounds;
    for (int f = 0; f < layout.fields(); ++f) bounds.push_back(in.below((1 << layout.width[f]) + 2) - 1);
    int32_t maxTuples = in.below(6) - 1;
    if (maxTuples == 0) maxTuples = -1;  // 0 has a walk-shaped meaning that the model leaves out
    if (s < 0) return;
    const bool gapTested = (support(slots[s].set) & ~layout.fieldVars) != 0;
    if (gapTested) {
        for (int f = 0; f < layout.fields(); ++f) bounds[f] = 1 << layout.width[f];
        maxTuples = -1;
    }
    trace.push_back(describe("getNTuples", {s, bounds[0], bounds[1], maxTuples}));
    const jobject v = call([&](JNIEnv* e) {
        return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doGetNTuples(
            e, nullptr, slots[s].handle, ints(layout.first), ints(layout.width), ints(bounds), maxTuples);
    });
    if (gapTested) {
        expectError(trace.back() + " of a set testing a gap", "Assert failed: BDDNativeImpl.getTuples");
        if (v != nullptr) fail(trace.back() + " returned a Vector with its refusal");
        return;
    }
    expectOk(trace.back());
    if (v == nullptr) fail(trace.back() + " returned null");
    std::vector<Tuple> want;
    for (const Tuple& t : tuplesOf(slots[s].set)) {
        bool inBounds = true;
        for (int f = 0; f < layout.fields(); ++f) inBounds = inBounds && t[f] < bounds[f];
        if (inBounds && (maxTuples < 0 || static_cast<int32_t>(want.size()) < maxTuples)) want.push_back(t);
    }
    if (fakejni::vectorOfIntArrays(v) != want)
        fail(trace.back() + " listed " + std::to_string(fakejni::vectorOfIntArrays(v).size()) + " tuples, the model " +
             std::to_string(want.size()) + " of " + show(slots[s].set));
}

void opCopy(Reader& in) {
    const int s = pickUsed(in);
    const int d = in.below(slotCount);
    if (s < 0 || s == d) return;
    trace.push_back(describe("incRefCount", {s, d}));
    call([&](JNIEnv* e) { Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doIncRefCount(e, nullptr, slots[s].handle); });
    expectOk(trace.back());
    const Slot copy = slots[s];
    release(d);
    slots[d] = copy;
    checkCanonical();
}

void opRelease(Reader& in) {
    const int s = pickUsed(in);
    if (s < 0) return;
    trace.push_back(describe("decRefCount", {s}));
    release(s);
}

void collect() {
    call([](JNIEnv* e) { Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doCollectGarbage(e, nullptr); });
    expectOk("doCollectGarbage");
}

void opCollect() {
    trace.push_back("collectGarbage");
    collect();
    checkCanonical();
    checkAllSlots("after a collection");
}

void opConstant(Reader& in) {
    const int d = in.below(slotCount);
    const bool isOne = (in.byte() & 1) != 0;
    trace.push_back(describe(isOne ? "getOne" : "getZero", {d}));
    const jint h = call([&](JNIEnv* e) {
        return isOne ? Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doGetOne(e, nullptr)
                     : Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doGetZero(e, nullptr);
    });
    expectOk(trace.back());
    store(d, h, isOne ? fullSet() : Model{}, trace.back());
}

void opInfo() {
    trace.push_back("getInfo");
    const jobjectArray lines =
        call([](JNIEnv* e) { return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doGetInfo(e, nullptr); });
    expectOk(trace.back());
    const std::vector<std::string> text = fakejni::stringArray(lines);
    if (text.size() != 5 || text[0] != "Alive nodes: " + std::to_string(nodeCacheOccupied) ||
        text[1] != "Total nodes allocated: " + std::to_string(totalNodesAllocated) ||
        text[4] != "Nodes size: " + std::to_string(24LL * totalNodesAllocated) + " B")
        fail("getInfo: unexpected report");
}

// The checkCancelled calls that a stream operation makes: serialize two per root, deserialize one
// per record number i = 2 .. N-1 that is a multiple of N / 30 + 1.
int deserializeChecks(int32_t nodeCount) {
    const int32_t step = nodeCount / 30 + 1;
    int checks = 0;
    for (int32_t i = 2; i < nodeCount; ++i) checks += i % step == 0 ? 1 : 0;
    return checks;
}

// A callback that goes on, cancels or raises at its call `at`; mode 0 is no callback at all.
jobject makeCallback(int mode, int at) {
    if (mode == 0) return nullptr;
    if (mode == 1) return fakejni::newCallback(-1, -1);
    if (mode == 2) return fakejni::newCallback(at, -1);
    return fakejni::newCallback(-1, at);
}

// What a stream operation whose callback has mode/at and makes `checks` cancellation tests ends in:
// 0 done, 1 cancelled, 2 the callback's exception.
int streamEnd(int mode, int at, int checks) {
    if (mode < 2 || at >= checks) return 0;
    return mode == 2 ? 1 : 2;
}

void opStream(Reader& in) {
    std::vector<int32_t> roots;
    std::vector<int> rootSlots;
    const int count = in.below(4);
    for (int k = 0; k < count; ++k) {
        const int s = pickUsed(in);
        if (s >= 0) roots.push_back(slots[s].handle), rootSlots.push_back(s);
    }
    const int writeMode = in.below(4), writeAt = in.below(6);
    const int readMode = in.below(4), readAt = in.below(12);
    const double shares[] = {1.0, 0.5, 0.0, -1.0, NAN};
    const double share = shares[in.below(5)];
    const jstring message = (in.byte() & 1) != 0 ? fakejni::newHostString("progress") : nullptr;
    trace.push_back(describe("stream", {static_cast<int64_t>(roots.size()), writeMode, writeAt, readMode, readAt}));

    const jobject out = fakejni::newOutputStream();
    const jobject writeCallback = makeCallback(writeMode, writeAt);
    call([&](JNIEnv* e) {
        Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doSerialize(e, nullptr, out, ints(roots),
                                                                                   writeCallback, share, message);
    });
    const std::vector<jobject> written = fakejni::writtenObjects(out);
    switch (streamEnd(writeMode, writeAt, 2 * static_cast<int>(roots.size()))) {
    case 1:
        expectOk(trace.back() + " cancelled serialize");
        if (!written.empty()) fail(trace.back() + ": a cancelled serialize wrote");
        return;
    case 2:
        expectError(trace.back() + " serialize", "java/lang/IllegalStateException: callback failure");
        if (!written.empty()) fail(trace.back() + ": a failed serialize wrote");
        return;
    default: break;
    }
    expectOk(trace.back() + " serialize");
    if (written.size() != 1) fail(trace.back() + ": serialize wrote " + std::to_string(written.size()) + " objects");
    const std::vector<int32_t> stream = fakejni::intArrayContents(static_cast<jintArray>(written[0]));
    if (stream.size() < 2 || stream[0] != static_cast<int32_t>(roots.size()))
        fail(trace.back() + ": the stream does not begin with the root count");
    if (fakejni::engineErrorOf([&] { checkDiagramStream(stream); }) != "")
        fail(trace.back() + ": the reader refuses what the writer wrote");

    const jobject input = fakejni::newInputStream(written[0]);
    const jobject readCallback = makeCallback(readMode, readAt);
    const jintArray read = call([&](JNIEnv* e) {
        return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doDeserialize(e, nullptr, input, readCallback,
                                                                                            share, message);
    });
    switch (streamEnd(readMode, readAt, deserializeChecks(stream[1]))) {
    case 1:
        expectOk(trace.back() + " cancelled deserialize");
        if (read != nullptr) fail(trace.back() + ": a cancelled deserialize returned handles");
        return;
    case 2:
        expectError(trace.back() + " deserialize", "java/lang/IllegalStateException: callback failure");
        if (read != nullptr) fail(trace.back() + ": a failed deserialize returned handles");
        return;
    default: break;
    }
    expectOk(trace.back() + " deserialize");
    if (read == nullptr) fail(trace.back() + ": deserialize returned null");
    if (fakejni::intArrayContents(read) != roots) fail(trace.back() + ": the stream did not read back to the same handles");
    for (const jint h : roots) {
        call([&](JNIEnv* e) { Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doDecRefCount(e, nullptr, h); });
        expectOk(trace.back() + " release of a read root");
    }
}

// ---- Invalid calls: refused with their message, and nothing changes -----------------------------------
jint badHandle(Reader& in) {
    switch (in.below(6)) {
    case 0: return 0;
    case 1: return -1;
    case 2: return totalNodesAllocated + 1;
    case 3: return INT_MAX;
    case 4: return INT_MIN;
    default:
        for (const jint h : stale)
            if (!isLiveHandle(h)) return h;
        return 0;
    }
}

jint someHandle(Reader& in) {
    const int s = pickUsed(in);
    return s >= 0 ? slots[s].handle : static_cast<jint>(one);
}

void opInvalid(Reader& in) {
    const int kind = in.below(9);
    const Figures before = figures();
    const std::vector<int32_t>& first = layout.first;
    const std::vector<int32_t>& width = layout.width;
    const Tuple values(layout.fields(), 1);
    const char* want = invalidHandle;
    int64_t result = 0;
    std::string what;
    switch (kind) {
    case 0: {  // a bad handle in a one-handle native
        const jint h = badHandle(in);
        const int op = in.below(11);
        what = describe("bad handle", {h, op});
        trace.push_back(what);
        result = call([&](JNIEnv* e) -> int64_t {
            switch (op) {
            case 0: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doComplement(e, nullptr, h);
            case 1: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doExists(e, nullptr, h, 0, 1);
            case 2: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doExistsVar(e, nullptr, h, 0);
            case 3: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doRename(e, nullptr, h, 0, 1, 1);
            case 4: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doTestVars(e, nullptr, h, 0, 1);
            case 5: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doGetNumOfNodes(e, nullptr, h);
            case 6: Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doIncRefCount(e, nullptr, h); return 0;
            case 7:
                return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doAddTuple(e, nullptr, h, ints(first),
                                                                                          ints(width), ints(values));
            case 8:
                return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doGetNumOfTuples(e, nullptr, h, ints(first),
                                                                                                ints(width), ints(width));
            case 9:
                return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doGetNTuples(
                           e, nullptr, h, ints(first), ints(width), ints(width), -1) != nullptr;
            default: {
                const jobject out = fakejni::newOutputStream();
                Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doSerialize(
                    e, nullptr, out, ints({static_cast<int32_t>(one), h}), nullptr, 1.0, nullptr);
                return static_cast<int64_t>(fakejni::writtenObjects(out).size());
            }
            }
        });
        break;
    }
    case 1: {  // a bad handle beside a good one in a two-handle native
        const jint good = someHandle(in);
        const jint bad = badHandle(in);
        const bool badFirst = (in.byte() & 1) != 0;
        const jint a = badFirst ? bad : good, b = badFirst ? good : bad;
        const int op = in.below(4);
        what = describe("bad handle pair", {a, b, op});
        trace.push_back(what);
        result = call([&](JNIEnv* e) -> int64_t {
            switch (op) {
            case 0: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doUnite(e, nullptr, a, b);
            case 1: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doIntersect(e, nullptr, a, b);
            case 2: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doSuperset(e, nullptr, a, b);
            default: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doRelprod(e, nullptr, a, b, 0, 2);
            }
        });
        break;
    }
    case 2: {  // a run or variable outside 0 .. 32765
        const jint h = someHandle(in);
        const int op = in.below(6);
        const int32_t runs[][2] = {{-1, 1}, {32760, 7}, {-5, 3}, {INT_MIN, 2}};
        const auto& run = runs[in.below(4)];
        what = describe("bad run", {op, run[0], run[1]});
        trace.push_back(what);
        want = invalidVariable;
        result = call([&](JNIEnv* e) -> int64_t {
            switch (op) {
            case 0: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doExists(e, nullptr, h, run[0], run[1]);
            case 1: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doRelprod(e, nullptr, h, h, run[0], run[1]);
            case 2: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doExistsVar(e, nullptr, h, -1);
            case 3: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doExistsVar(e, nullptr, h, zeroVar);
            case 4: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doRename(e, nullptr, h, run[0], run[1], 1);
            default:
                return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doMakeEquals(
                    e, nullptr, run[0] < 0 ? run[0] : zeroVar, 3);
            }
        });
        break;
    }
    case 3: {  // a rename offset or target outside the variables
        const jint h = someHandle(in);
        const int32_t cases[][3] = {{0, 1, 32768}, {0, 1, -32769}, {0, 1, -1}, {maxInnerVar, 1, 1}, {2, 3, -3}, {0, 2, 32765}};
        const auto& c = cases[in.below(6)];
        what = describe("bad rename", {h, c[0], c[1], c[2]});
        trace.push_back(what);
        want = invalidVariable;
        result = call([&](JNIEnv* e) -> int64_t {
            return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doRename(e, nullptr, h, c[0], c[1], c[2]);
        });
        break;
    }
    case 4: {  // makeEquals of one variable twice, or outside the variables
        const int32_t pairs[][2] = {{3, 3}, {0, 0}, {0, zeroVar}, {-1, 2}, {maxInnerVar, maxInnerVar}};
        const auto& p = pairs[in.below(5)];
        what = describe("bad makeEquals", {p[0], p[1]});
        trace.push_back(what);
        want = invalidVariable;
        result = call([&](JNIEnv* e) -> int64_t {
            return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doMakeEquals(e, nullptr, p[0], p[1]);
        });
        break;
    }
    case 5: {  // a broken layout in each of the four layout natives
        const jint h = someHandle(in);
        const int broken = in.below(8);
        const int op = in.below(4);
        std::vector<int32_t> f = first, w = width, third = values;
        bool nullArray = false;
        switch (broken) {
        case 0: w[0] = 32; break;
        case 1: w[1] = -1; break;
        case 2: f[1] = f[0]; break;  // overlaps field 0
        case 3: f[0] = -1; break;
        case 4: f.back() = maxInnerVar; w.back() = 2; break;
        case 5: w.pop_back(); break;
        case 6: third.pop_back(); break;
        default: nullArray = true; break;
        }
        what = describe("bad layout", {broken, op});
        trace.push_back(what);
        want = invalidLayout;
        result = call([&](JNIEnv* e) -> int64_t {
            const jintArray fa = ints(f), wa = nullArray ? nullptr : ints(w), ta = ints(third);
            switch (op) {
            case 0: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doMakeSingleTuple(e, nullptr, fa, wa, ta);
            case 1: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doAddTuple(e, nullptr, h, fa, wa, ta);
            case 2: return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doGetNumOfTuples(e, nullptr, h, fa, wa, ta);
            default:
                return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doGetNTuples(e, nullptr, h, fa, wa, ta, -1) !=
                       nullptr;
            }
        });
        break;
    }
    case 6: {  // makeSingleTupleUnary outside its rule
        const int32_t cases[][2] = {{0, 32}, {-1, 1}, {maxInnerVar, 2}, {INT_MAX, 3}};
        const auto& c = cases[in.below(4)];
        what = describe("bad unary tuple", {c[0], c[1]});
        trace.push_back(what);
        want = invalidLayout;
        result = call([&](JNIEnv* e) -> int64_t {
            return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doMakeSingleTupleUnary(e, nullptr, c[0], c[1], 5);
        });
        break;
    }
    case 7: {  // a release of an out-of-range handle: refused on the caller's thread, nothing queued
        const jint cases[] = {0, -1, totalNodesAllocated + 1, INT_MIN};
        const jint h = cases[in.below(4)];
        what = describe("bad release", {h});
        trace.push_back(what);
        call([&](JNIEnv* e) { Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doDecRefCount(e, nullptr, h); });
        if (!gcOn) want = "";  // with collection off a release does nothing at all
        break;
    }
    default: {  // stream calls with the wrong objects
        const jint h = someHandle(in);
        const int op = in.below(5);
        what = describe("bad stream call", {op});
        trace.push_back(what);
        const char* messages[] = {"Assert failed: Invalid root list", "Assert failed: Invalid stream",
                                  "Assert failed: Invalid callback", "Assert failed: Invalid stream",
                                  "Assert failed: Malformed diagram stream"};
        want = messages[op];
        result = call([&](JNIEnv* e) -> int64_t {
            const jobject out = fakejni::newOutputStream();
            switch (op) {
            case 0:
                Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doSerialize(e, nullptr, out, nullptr, nullptr, 1.0,
                                                                                           nullptr);
                return static_cast<int64_t>(fakejni::writtenObjects(out).size());
            case 1:
                Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doSerialize(
                    e, nullptr, fakejni::newInputStream(nullptr), ints({h}), nullptr, 1.0, nullptr);
                return 0;
            case 2:
                Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doSerialize(
                    e, nullptr, out, ints({h}), fakejni::newHostString("not a callback"), 1.0, nullptr);
                return static_cast<int64_t>(fakejni::writtenObjects(out).size());
            case 3:
                return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doDeserialize(e, nullptr, out, nullptr, 1.0,
                                                                                                    nullptr) != nullptr;
            default:
                return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doDeserialize(
                           e, nullptr, fakejni::newInputStream(fakejni::newHostString("not an int array")), nullptr, 1.0,
                           nullptr) != nullptr;
            }
        });
        break;
    }
    }
    expectError(what, want);
    if (result != 0) fail(what + ": a refused call returned " + std::to_string(result));
    if (!(figures() == before)) fail(what + ": the refusal changed the store");
}

// ---- The program ----------------------------------------------------------------------------------------
void readHeader(Reader& in, bool freshEngine) {
    const uint8_t shape = in.byte(), widths = in.byte(), gap = in.byte(), engine = in.byte(), cache = in.byte();
    layout = {};
    const int fields = 2 + (shape & 1);
    const int gapBefore = gap % (fields + 2);  // a gap variable before this field; fields or more: none
    int32_t next = 0;
    for (int f = 0; f < fields; ++f) {
        if (f == gapBefore) ++next;
        const int32_t w = 2 + ((widths >> f) & 1);
        layout.first.push_back(next);
        layout.width.push_back(w);
        for (int32_t i = 0; i < w; ++i) layout.fieldVars |= uint32_t{1} << (next + i);
        next += w;
    }
    layout.nv = next;
    if (!freshEngine) return;
    const int32_t rates[] = {0, 1, 3, 10, 100, 1000};
    const int32_t nodeBounds[] = {128, 512, 1 << 20};
    const int32_t opBounds[] = {128, 1024, 1 << 20};
    const int32_t rate = rates[engine % 6];
    gcOn = ((engine >> 3) & 7) != 0;
    const int32_t maxNodes = nodeBounds[(engine >> 6) % 3];
    const int32_t maxOps = opBounds[cache % 3];
    trace.push_back(describe("init", {maxNodes, maxOps, rate, gcOn}));
    call([&](JNIEnv* e) {
        Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doInit(e, nullptr, maxNodes, maxOps, rate,
                                                                              gcOn ? JNI_TRUE : JNI_FALSE);
    });
    expectOk("doInit");
    if (fakejni::globalRefCount() != 1) fail("the engine holds " + std::to_string(fakejni::globalRefCount()) + " global references");
}

void finishProgram() {
    trace.push_back("give everything back");
    checkAllSlots("at the end");
    for (int i = 0; i < slotCount; ++i) release(i);
    collect();
    const jobjectArray lines =
        call([](JNIEnv* e) { return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doGetInfo(e, nullptr); });
    expectOk("doGetInfo");
    const std::string alive0 = fakejni::stringArray(lines).at(0);
    reportedAlive = std::stoi(alive0.substr(alive0.find(':') + 1));
    if (gcOn) {
        int32_t alive = -1;
        if (fakejni::engineErrorOf([&] { alive = drainStore(); }) != "") fail("the final collection failed");
        if (alive != 0) fail(std::to_string(alive) + " nodes still alive after everything was given back");
    }
    checkStoreConsistent();
}

}  // namespace

ProgramRun runProgram(const uint8_t* data, size_t size, bool freshEngine) {
    trace.clear();
    stale.clear();
    quantifiedRun.clear();
    renamedRun.clear();
    for (Slot& s : slots) s = {};
    Reader in{data, size};
    if (freshEngine) gcOn = true;
    readHeader(in, freshEngine);
    ProgramRun run;
    while (!in.done() && run.operations < maxOperations) {
        const int op = in.below(24);
        switch (op) {
        case 0:
        case 1: opMakeSingleTuple(in); break;
        case 2: opMakeUnary(in); break;
        case 3: opMakeEquals(in); break;
        case 4:
        case 5: opAddTuple(in); break;
        case 6: opBinary(in, 0); break;
        case 7: opBinary(in, 1); break;
        case 8: opComplement(in); break;
        case 9: opExists(in, false); break;
        case 10: opExists(in, true); break;
        case 11: opRename(in); break;
        case 12: opRelprod(in); break;
        case 13: opSuperset(in); break;
        case 14: opTestVars(in); break;
        case 15: opNodeCount(in); break;
        case 16: opCount(in); break;
        case 17: opList(in); break;
        case 18: opCopy(in); break;
        case 19: opRelease(in); break;
        case 20: opCollect(); break;
        case 21:
            if ((in.byte() & 1) != 0) opConstant(in);
            else opInfo();
            break;
        case 22: opStream(in); break;
        default: opInvalid(in); break;
        }
        ++run.operations;
        fakejni::releaseHostObjects();
    }
    finishProgram();
    fakejni::releaseHostObjects();
    run.aliveAfterCollection = reportedAlive;
    return run;
}
