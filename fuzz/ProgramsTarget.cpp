// Fuzz target: operation programs (see Programs.h), each on a fresh engine.
#include "Programs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runProgram(data, size, true);
    return 0;
}
