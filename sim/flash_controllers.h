// The chip's two embedded flash controllers, EFC0 for bank 0 and EFC1 for
// bank 1, as the chip documents them: word writes into flash load the bank's
// 256-byte latch buffer, MC_FCR takes keyed commands, MC_FSR reports. Busy
// times come from the timing model and run against the wall clock.
#pragma once

#include "sim/flash_store.h"
#include "sim/geometry.h"
#include "sim/timing.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sim {

// Who reads a register: the monitor on behalf of the host, or target code.
enum class Requester { host, target };

// One write to MC_FCR and what MC_FSR showed right after it.
struct ControllerCommand {
    int controller;
    std::uint8_t code;        // bits 0-3
    std::uint32_t argument;   // PAGEN, bits 8-17
    bool key_ok;
    std::uint32_t fsr_after;  // as a read would show it, without clearing
};

// The commands in the order the status report lists them.
enum class FlashCommand { WP, WPL, SLB, CLB, EA, SGPB, CGPB, SSB };
inline constexpr int flash_command_count = 8;
const char* flash_command_name(FlashCommand command);

struct ControllerCounters {
    std::array<std::uint64_t, flash_command_count> accepted{};  // by FlashCommand
    std::uint64_t locke = 0;  // refused: a locked region
    std::uint64_t proge = 0;  // refused: wrong key, unknown command, bad argument or busy
};

// The `occurrence`-th command written with this code (counted from 1, over
// both controllers) is refused with PROGE.
struct FailingCommand {
    std::uint8_t code;
    std::uint64_t occurrence;
};

struct FlashFaults {
    bool fsr_never_ready = false;
    // Absolute address of a byte stored inverted whenever its page is programmed.
    std::optional<std::uint32_t> corrupt_address;
    // Bit r: region r's lock bit cannot be cleared; CLB on it gives LOCKE.
    std::uint32_t stuck_locks = 0;
    std::optional<FailingCommand> failing_command;
    // Bit r: SLB on region r is acknowledged but leaves the bit clear.
    std::uint32_t ignored_locks = 0;
    // SGPB is acknowledged but leaves the bit clear.
    bool ignore_gpnvm = false;
};

namespace fsr {
inline constexpr std::uint32_t frdy = 1u << 0;
inline constexpr std::uint32_t locke = 1u << 2;
inline constexpr std::uint32_t proge = 1u << 3;
inline constexpr std::uint32_t security = 1u << 4;
inline constexpr int gpnvm_shift = 8;
inline constexpr int locks_shift = 16;
}  // namespace fsr

namespace fmr {
inline constexpr std::uint32_t nebp = 1u << 7;
// FRDY, LOCKE and PROGE interrupt enables, NEBP, FWS and FMCN.
inline constexpr std::uint32_t writable = 0x00FF038D;
}  // namespace fmr

class FlashControllers {
public:
    FlashControllers(FlashStore& store, const TimingModel& timing, const FlashFaults& faults);

    std::uint32_t fmr(int controller) const { return controllers_[controller].fmr; }
    void write_fmr(int controller, std::uint32_t value);
    void write_fcr(int controller, std::uint32_t value);
    // Clears LOCKE and PROGE. Target code reading a busy controller still
    // sees FRDY 0 but is held until the command is done, so its polling loop
    // stays short.
    std::uint32_t read_fsr(int controller, Requester who);
    // MC_FSR as it stands, without the read's side effects.
    std::uint32_t peek_fsr(int controller) const;
    // A write of `width` bytes at `flash_offset` into the flash address space.
    void load_latch(std::uint32_t flash_offset, unsigned width, std::uint32_t value);

    const std::vector<ControllerCommand>& log() const { return log_; }
    void clear_log() { log_.clear(); }
    const ControllerCounters& counters(int controller) const { return controllers_[controller].counters; }
    // Modelled time the controllers have been busy, summed over commands.
    double busy_ms() const { return busy_ms_; }
    // Real time target code has been held waiting for busy controllers.
    double held_ms() const { return held_ms_; }
    // The fault switches that made a command or a read differ from a sound
    // chip's so far, by option name.
    const std::set<std::string>& fired() const { return fired_; }

private:
    using Clock = std::chrono::steady_clock;
    using Latch = std::array<std::uint8_t, page_size>;

    struct Controller {
        std::uint32_t fmr = 0;
        Latch latch;
        bool locke = false;
        bool proge = false;
        Clock::time_point busy_until{};
        ControllerCounters counters;
    };

    bool busy(const Controller& controller) const { return Clock::now() < controller.busy_until; }
    bool refuses(const Controller& controller, std::optional<FlashCommand> command, bool key_ok,
                 std::uint32_t argument) const;
    bool injected_failure(std::uint8_t code);
    bool touches_locked_region(int controller, FlashCommand command, std::uint32_t page) const;
    void carry_out(int controller, FlashCommand command, std::uint32_t page);
    double duration_ms(const Controller& controller, FlashCommand command) const;
    void program_page(int controller, std::uint32_t page, bool erase);
    void erase_bank(int controller);

    FlashStore& store_;
    TimingModel timing_;
    FlashFaults faults_;
    std::array<Controller, controller_count> controllers_;
    std::vector<ControllerCommand> log_;
    double busy_ms_ = 0;
    double held_ms_ = 0;
    std::uint64_t failing_code_seen_ = 0;
    // What the corrupted byte would hold on a sound chip.
    std::uint8_t corrupt_intended_ = 0xFF;
    std::set<std::string> fired_;
};

}  // namespace sim
