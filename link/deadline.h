// One deadline on the platform's millisecond clock, taken once when the wait
// begins; safe across the clock's wrap at 2^32.
#pragma once

#include "link/serial_platform.h"

#include <cstdint>

struct Deadline {
    std::uint32_t start_ms;
    std::uint32_t length_ms;
};

inline Deadline deadline_in(std::uint32_t length_ms) { return {platform_tick_ms(), length_ms}; }

inline std::uint32_t remaining_ms(const Deadline& deadline) {
    const std::uint32_t elapsed = platform_tick_ms() - deadline.start_ms;
    return elapsed >= deadline.length_ms ? 0 : deadline.length_ms - elapsed;
}

inline bool passed(const Deadline& deadline) { return remaining_ms(deadline) == 0; }
