// Standard input read to its end, for an image piped into a program. Apart
// from input_file.h, which refuses anything but a regular file so that a
// FIFO never blocks: here waiting for the writer is the point.
#pragma once

#include "files/input_file.h"

#include <cstdint>
#include <vector>

// Reads standard input to its end into `contents`; more than `size_limit`
// bytes is too_large, a failed read read_failed with the system's code.
// `contents` is empty on failure.
[[nodiscard]] FileRead read_standard_input(std::uint64_t size_limit, std::vector<unsigned char>& contents,
                                           long& system_code);
