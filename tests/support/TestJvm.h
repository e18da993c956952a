// A Java virtual machine inside the C++ test binary, with the host classes on its class path, so
// that engine code that calls JNI (errors, the monitor, reports) runs against the real thing.
#pragma once

#include "engine/BDDNativeImpl.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

extern JavaVM* testVm;
extern JNIEnv* testEnv;

// Starts a fresh engine on the test thread's environment, as the start-up native would.
void startEngine(int32_t maxNodeCache, int32_t maxOpCache, int32_t gcRate, int32_t gcEnabled);

// Runs `body` as engine code (environment and stack limit set). Returns the message of the
// NativeBDDException it raised, or "" when it raised none; clears the Java exception.
std::string engineErrorOf(const std::function<void()>& body);

// The message of the pending Java exception ("" when none is pending), clearing it.
std::string takePendingMessage();

// Test fixture: every test starts with a fresh engine of the given parameters.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { startEngine(1 << 20, 1 << 20, 0, 1); }
};
