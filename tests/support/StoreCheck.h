// What the unit tests and the fuzz target share: the error exit caught, and the store checked.
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

// Checks what must hold of the store between operations: every live inner node is reduced (two
// different children), ordered (its variable below both children's), unmarked, over live children,
// and the only one of its triple; the unique table holds exactly the live inner nodes.
void checkStoreSound();
