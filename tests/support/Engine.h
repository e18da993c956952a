// The engine driven directly, as the JNI layer drives it, and the helpers the unit tests share.
#pragma once

#include "engine/BDDNativeImpl.h"
#include "fuzz/StoreCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A fresh engine. Without a stack limit: a test that wants one sets `stackLimit` itself.
inline void startEngine(int32_t maxNodeCache, int32_t maxOpCache, int32_t gcRate, int32_t gcEnabled) {
    stackLimit = nullptr;
    init(maxNodeCache, maxOpCache, gcRate, gcEnabled);
}

// The message of the error exit that `body` took, "" when none.
template <class F>
std::string errorOf(F&& body) {
    try {
        body();
    } catch (const EngineError& e) {
        return e.message;
    }
    return "";
}

// Every test starts with a fresh engine: collection on, a collection at every creation (rate 0),
// locking off.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { startEngine(1 << 20, 1 << 20, 0, 1); }
};

inline int count(Node n) { return refCountOf(nodeOf(n)); }

// A tuple layout: the first variable and width of each field, and the bounds of listing.
struct Layout {
    std::vector<int32_t> first, width, bound;
    int32_t fields() const { return static_cast<int32_t>(first.size()); }
};
using Tuple = std::vector<int32_t>;

// The set of the given tuples, built by insertion; one reference for the caller.
inline Node setOf(const Layout& l, const std::vector<Tuple>& tuples) {
    Node s = zero;
    for (const Tuple& t : tuples) {
        const Node next = addTuple(s, l.fields(), l.first.data(), l.width.data(), t.data());
        if (s != zero) doDecRefCount(s);
        s = next;
    }
    return s;
}

// The tuples that getNTuples lists.
inline std::vector<Tuple> listTuples(Node node, const Layout& l, int32_t maxTuples = -1) {
    std::vector<Tuple> out;
    const TupleSink sink{[](void* to, const int32_t* values, int32_t n) {
                             static_cast<std::vector<Tuple>*>(to)->emplace_back(values, values + n);
                         },
                         &out};
    getNTuples(node, l.fields(), l.first.data(), l.width.data(), l.bound.data(), maxTuples, sink);
    return out;
}

inline int32_t countOf(Node node, const Layout& l) {
    return getNumOfTuples(node, l.fields(), l.first.data(), l.width.data(), l.bound.data());
}
