#include "flash/flash_controller.h"

#include "link/monitor.h"

#include <chrono>
#include <thread>

namespace {

// FMCN 52 and two wait states: safe flash timing for any clock the monitor runs.
constexpr std::uint32_t fmr_monitor_timing = 0x00340200;
// FMCN 73 and one wait state, for the GPNVM command at the monitor's clock.
constexpr std::uint32_t fmr_command_timing = 0x00490100;
// Key 0x5A, argument 2, SGPB: set GPNVM bit 2, boot from flash.
constexpr std::uint32_t fcr_set_boot_bit = 0x5A00020B;

// A GPNVM command takes about 1 ms; ten polls a millisecond apart cover it
// with margin.
constexpr int ready_polls = 10;
constexpr auto ready_poll_pause = std::chrono::milliseconds(1);

bool write_register(std::uint32_t address, std::uint32_t value) {
    return monitor_write_word(address, value) == MonitorResult::ok;
}

// Polls controller 0 until FRDY, leaving its last status in `status` and the
// error bits any poll showed in `errors` (reading the register clears them).
// `never_ready` is the result for a controller that stays busy.
FlashResult wait_until_ready(std::uint32_t& status, std::uint32_t& errors, FlashResult never_ready) {
    errors = 0;
    for (int poll = 0; poll < ready_polls; ++poll) {
        if (read_flash_status(0, status) != FlashResult::ok) return FlashResult::status_unreadable;
        errors |= status & (fsr_locke | fsr_proge);
        if (status & fsr_frdy) return FlashResult::ok;
        std::this_thread::sleep_for(ready_poll_pause);
    }
    return never_ready;
}

}  // namespace

FlashResult set_flash_modes() {
    if (!write_register(mc_fmr_efc0, fmr_monitor_timing) || !write_register(mc_fmr_efc1, fmr_monitor_timing))
        return FlashResult::write_failed;
    return FlashResult::ok;
}

FlashResult read_flash_status(int controller, std::uint32_t& status) {
    if (monitor_read_word(controller == 0 ? mc_fsr_efc0 : mc_fsr_efc1, status) != MonitorResult::ok)
        return FlashResult::status_unreadable;
    return FlashResult::ok;
}

FlashState decode_flash_state(std::uint32_t efc0_status, std::uint32_t efc1_status) {
    FlashState state;
    state.lock_bits = (efc0_status & fsr_all_locks) >> fsr_locks_shift | (efc1_status & fsr_all_locks);
    for (int bit = 0; bit < 3; ++bit) state.gpnvm[bit] = static_cast<int>(efc0_status >> (fsr_gpnvm_shift + bit) & 1);
    state.security = (efc0_status & fsr_security) ? 1 : 0;
    return state;
}

FlashResult read_flash_state(FlashState& state) {
    std::uint32_t efc0 = 0;
    std::uint32_t efc1 = 0;
    if (read_flash_status(0, efc0) != FlashResult::ok || read_flash_status(1, efc1) != FlashResult::ok)
        return FlashResult::status_unreadable;
    state = decode_flash_state(efc0, efc1);
    return FlashResult::ok;
}

FlashResult cancel_programming_mode() {
    if (!write_register(mc_puer, 0) || !write_register(mc_fmr_efc0, fmr_command_timing))
        return FlashResult::write_failed;
    std::uint32_t status = 0;
    std::uint32_t errors = 0;
    if (const auto waited = wait_until_ready(status, errors, FlashResult::not_ready_before); waited != FlashResult::ok)
        return waited;
    const std::uint32_t status_before = status;
    if (!write_register(mc_fcr_efc0, fcr_set_boot_bit)) return FlashResult::write_failed;
    if (const auto waited = wait_until_ready(status, errors, FlashResult::not_ready_after); waited != FlashResult::ok)
        return waited;
    // The command's acknowledgement is no proof: the device must show the bit,
    // and nothing else new. A command spoilt on its way may have set another
    // bit: the security bit, which only a full chip erase clears.
    if (errors != 0 || !(status & fsr_gpnvm2)) return FlashResult::boot_bit_not_set;
    if ((status ^ status_before) & ~(fsr_frdy | fsr_locke | fsr_proge | fsr_gpnvm2)) return FlashResult::boot_bit_not_set;
    return FlashResult::ok;
}
