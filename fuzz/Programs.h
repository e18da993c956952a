// Operation programs: a byte string decoded into a short program over a small tuple layout, run
// through the JNI entry points (with the stand-in environment of FakeJni.h) and, side by side, on a
// plain model of the same sets. Used by the `fuzz_programs` target and by the soak run.
//
// Decoding. The first five bytes choose the layout (2 or 3 fields of 2 or 3 bits, with at most one
// gap variable) and the engine's parameters (collection rate, collection on or off, table bounds).
// Every following byte group is one operation on six diagram slots: constructions
// (`doMakeSingleTuple`, `doMakeEquals`, `doMakeSingleTupleUnary`), `doAddTuple`, the set algebra,
// quantification, renaming, relational product, inclusion, the variable test, counting, listing,
// node counts, taking and giving back references, collections, the statistics report, a stream
// round trip with progress callbacks that may cancel or raise, and deliberately invalid calls
// (freed and out-of-range handles, bad runs, offsets and layouts, wrong stream objects). The
// program ends when the bytes do, or after `maxOperations`.
//
// The model. A set is the std::set of its satisfying assignments of the universe's variables
// 0 .. V-1 (V = the end of the last field, at most 10); tuples, counts and listings are read from
// it through the layout. Each result is compared with the model: the diagram's function on every
// assignment, canonicity (equal sets have equal handles and only those), node counts against the
// size of the reduced diagram computed from the truth table, counts, listings in order, inclusion,
// variable tests, and the exact message of every refusal. A refused call that had to work, a call
// that had to be refused and was not, a refusal that changed the store, a different answer, or a
// store that is not back at zero live nodes once the program has given everything back, is a
// FINDING (the process aborts with a description and the program's trace).
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int maxOperations = 64;

struct ProgramRun {
    uint64_t operations = 0;  // operations carried out
    // "Alive nodes" of the statistics report once the program gave everything back and collected
    // (before the store is drained: freed records still hold their children until reused).
    int32_t aliveAfterCollection = 0;
};

// Runs one program. With `freshEngine` the program starts its own engine (`doInit` with the
// parameters of its header); otherwise the caller's engine is used as it is (it must collect and
// start drained) and the header's parameters are read and ignored.
ProgramRun runProgram(const uint8_t* data, size_t size, bool freshEngine);
