// A Java virtual machine inside the C++ test binary, with the host classes on its class path, so
// that engine code that calls JNI (errors, the monitor, listing) runs against the real thing; and
// the few helpers the engine tests share.
#pragma once

#include "engine/BDDNativeImpl.h"
#include "jni/HostContract.h"
#include "fuzz/StoreCheck.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

extern JNIEnv* testEnv;

// Starts a fresh engine on the test thread's environment, as the start-up native would.
void startEngine(int32_t maxNodeCache, int32_t maxOpCache, int32_t gcRate, int32_t gcEnabled);

// Runs `body` as engine code (environment and stack limit set). Returns the message of the Java
// exception it left pending ("" when none), and clears it.
std::string engineErrorOf(const std::function<void()>& body);

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
Node setOf(const Layout& layout, const std::vector<Tuple>& tuples);
// The tuples that getNTuples lists.
std::vector<Tuple> listTuples(Node node, const Layout& layout, int32_t maxTuples = -1);

