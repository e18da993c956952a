// Release queue internals shared by the collector and the release entry point of other threads.
#pragma once

#include "engine/BDDNativeImpl.h"

// Appends one release to the queue; the caller holds the queue lock (when locking is on). Returns
// false only when the queue is full and cannot grow.
bool appendRelease(Node n);
