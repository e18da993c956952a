// A Java virtual machine inside a benchmark binary, with the host classes and the benchmarks' own
// Java classes on its class path and the built library on its library path.
#pragma once

#include "engine/RefCounts.h"

#include <jni.h>

extern JNIEnv* benchEnv;

// Starts the virtual machine once; returns false (with a message on stderr) when it cannot.
bool startBenchJvm();

// Starts a fresh engine (the one linked into the benchmark binary) on the benchmark thread.
void startBenchEngine(int32_t maxNodeCache, int32_t maxOpCache, int32_t gcRate, int32_t gcEnabled);

// Releases one reference the way the Java side does: queued, carried out at the next collection.
inline void release(Node n) { decRefCount(n); }
