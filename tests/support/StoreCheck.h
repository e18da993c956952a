// What the unit tests and the fuzz target share: the error exit caught, and the store drained.
#pragma once

#include "engine/RefCounts.h"

#include <string>

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

// Prints "FINDING: <what>" and aborts the process.
[[noreturn]] void finding(const std::string& what);

// Carries out the queued releases, then gives back what freed records still hold on their children
// (as their reuse by make-node would), until nothing is left to release. Returns the live inner
// nodes then. A collection may raise.
int32_t drainStore();

// Checks what must hold of the store between operations: every live inner node is reduced (two
// different children), ordered (its variable below both children's), unmarked, over live children,
// and the only one of its triple; the unique table holds exactly the live inner nodes.
void checkStoreSound();
