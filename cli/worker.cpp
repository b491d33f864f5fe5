#include "cli/worker.h"

#include "cli/json.h"
#include "cli/platform.h"
#include "cli/texts.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Enough for a live percent; few enough to cost the line nothing.
constexpr auto told_interval = std::chrono::milliseconds(100);

void tell(const JsonObject& event) { write_text(Stream::out, event.text() + "\n"); }

}  // namespace

void tell_connected(const std::string& port, std::optional<std::uint32_t> chip_id) {
    JsonObject event;
    event.add_string("event", "connected").add_string("port", port);
    if (chip_id) event.add_string("chip_id", format("0x%08X", static_cast<unsigned>(*chip_id)));
    tell(event);
}

void tell_progress(Step step, int done, int total) {
    static Clock::time_point told_at;
    const auto now = Clock::now();
    if (done != 0 && done < total && now - told_at < told_interval) return;
    told_at = now;
    JsonObject event;
    event.add_string("event", "progress").add_string("step", step_key(step)).add_integer("done", done).add_integer("total", total);
    tell(event);
}

const char* step_key(Step step) {
    switch (step) {
    case Step::applet: return "applet";
    case Step::boot_bit_clear: return "boot_bit_clear";
    case Step::checksum: return "checksum";
    case Step::unlock: return "unlock";
    case Step::erase: return "erase";
    case Step::write: return "write";
    case Step::compare: return "compare";
    case Step::check: return "check";
    case Step::lock: return "lock";
    case Step::boot_bit: return "boot_bit";
    default: return "other";
    }
}
