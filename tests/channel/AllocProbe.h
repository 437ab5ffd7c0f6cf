// Records the largest single heap allocation made through operator new while
// armed, so that tests can show a receive did not allocate what a hostile
// frame announced. The replacement operators live in AllocProbe.cpp and
// serve the whole channel_tests binary.
#pragma once

#include <cstddef>

namespace AllocProbe {

void Arm();     // starts recording from zero
void Disarm();
size_t Largest();

}  // namespace AllocProbe
