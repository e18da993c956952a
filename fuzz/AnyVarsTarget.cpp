// Fuzz target: the operations over any variables, driven directly and checked by evaluation.
//
// The bytes choose up to ten variables out of 0..19 (so they come with gaps and in any order), an
// engine configuration, and a program: functions built from the variables with if-then-else, then
// replacement by random one-to-one maps (swaps and moves past other variables included),
// quantification and relational products over random variable sets, the builders, and tuples over
// random field layouts on those variables, built, counted and listed page by page. Every result is
// evaluated on every assignment of the chosen variables and compared with what its operands say;
// every listing with the tuples of the truth table, in the layout's order. Afterwards everything is
// given back, and the store must be sound and drain to no live node.
#include "support/AnyVarsCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkAnyVarsInput(data, size);
    return 0;
}
