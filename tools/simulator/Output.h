// What the simulator prints while it runs: its lines on standard output, and bytes made readable.
#pragma once

#include <cstddef>
#include <string>

namespace Simulator {

// Prints one line on standard output at once (tests and users read it while the simulator runs).
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Request and reply bytes for a human: printable ASCII as is, the rest as <HH>; long texts cut.
std::string printable(const std::string& bytes, size_t limit = 96);

}  // namespace Simulator
