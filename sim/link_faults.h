// Faults of the link for tests of the updater: a greeting answered wrongly
// or not at all, a damaged prompt, a device that falls silent or hangs up.
// They act on the monitor's replies, not on the chip.
#pragma once

#include "sim/monitor.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sim {

enum class GreetingAnswer {
    normal,  // "\n\r>"
    silent,  // nothing
    cut,     // only "\n\r"
    wrong,   // "?\r>"
};

struct LinkFaults {
    GreetingAnswer greeting = GreetingAnswer::normal;
    std::optional<std::uint64_t> bad_prompt;    // this write reply (W/H/O/S, from 1) gets '?' for '>'
    std::optional<std::uint64_t> silent_after;  // frames answered before silence
    std::optional<std::uint64_t> close_after;   // frames answered before hanging up
    double trickle_ms = 0;                      // gap between reply bytes; 0: at once
    std::optional<FlippedByte> flipped_byte;    // a byte of S data spoilt on its way in
};

class FaultShaper {
public:
    explicit FaultShaper(const LinkFaults& faults) : faults_(faults) {}

    // What actually goes out for the reply to one frame.
    std::vector<std::uint8_t> shape(const Reply& reply);
    // True once the last frame before hanging up has been answered.
    bool hanging_up() const { return faults_.close_after && frames_ >= *faults_.close_after; }
    // The switches that changed a reply so far, by option name.
    const std::set<std::string>& fired() const { return fired_; }

private:
    LinkFaults faults_;
    std::uint64_t frames_ = 0;
    std::uint64_t write_replies_ = 0;
    std::set<std::string> fired_;
};

}  // namespace sim
