// A worker of the production line: the write of one device, telling the
// line what it does as JSON lines on standard output, before its result.
#pragma once

#include "device/outcome.h"

#include <cstdint>
#include <optional>
#include <string>

// The device on `port` answered the greeting; its chip id once read.
void tell_connected(const std::string& port, std::optional<std::uint32_t> chip_id);
// `done` of the step's `total` units (0: the step does not count them).
// Ten a second at most, but the start and the end of each step always.
void tell_progress(Step step, int done, int total);
// A step's name in those lines.
const char* step_key(Step step);
