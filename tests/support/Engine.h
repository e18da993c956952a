// The engine driven directly, as the JNI layer drives it, and the helpers the unit tests share.
#pragma once

#include "engine/OpCache.h"
#include "engine/UniqueTable.h"
#include "ops/SetOps.h"
#include "support/StoreCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A fresh engine. Without a stack limit: a test that wants one sets `stackLimit` itself.
inline void startEngine(int32_t maxNodeCache, int32_t maxOpCache, int32_t gcRate, int32_t gcEnabled) {
    setStackLimit(nullptr);
    init(maxNodeCache, maxOpCache, gcRate, gcEnabled);
}

// Every test starts with a fresh engine: collection on, a collection at every creation (rate 0),
// locking off.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { startEngine(1 << 20, 1 << 20, 0, 1); }
};
