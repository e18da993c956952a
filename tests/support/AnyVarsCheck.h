// The check behind the fuzz target of the operations over any variables, which the unit tests also
// run over fixed inputs. A failure calls `finding`.
#pragma once

#include <cstddef>
#include <cstdint>

void checkAnyVarsInput(const uint8_t* data, size_t size);
