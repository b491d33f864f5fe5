#include "flash/flash_controller.h"

#include "link/monitor.h"
#include "ui/messages.h"

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

// Polls controller 0: 0 ready, with its last status in `status` and the
// error bits any poll showed in `errors` (reading the register clears them);
// 4 status read failed; 1 never ready.
int wait_until_ready(std::uint32_t& status, std::uint32_t& errors) {
    errors = 0;
    for (int poll = 0; poll < ready_polls; ++poll) {
        if (read_flash_status(0, status) != 0) return 4;
        errors |= status & (fsr_locke | fsr_proge);
        if (status & fsr_frdy) return 0;
        std::this_thread::sleep_for(ready_poll_pause);
    }
    return 1;
}

}  // namespace

int set_flash_modes() {
    if (monitor_write_word(mc_fmr_efc0, fmr_monitor_timing) != 0) return 1;
    if (monitor_write_word(mc_fmr_efc1, fmr_monitor_timing) != 0) return 1;
    return 0;
}

int read_flash_status(int controller, std::uint32_t& status) {
    if (monitor_read_word(controller == 0 ? mc_fsr_efc0 : mc_fsr_efc1) != 0) return 4;
    status = parse_reply_value(4);
    return 0;
}

int flash_ready(int controller) {
    std::uint32_t status = 0;
    if (read_flash_status(controller, status) != 0) return 4;
    return (status & fsr_frdy) ? 1 : 0;
}

int cancel_programming_mode() {
    if (monitor_write_word(mc_puer, 0) != 0) return 1;
    if (monitor_write_word(mc_fmr_efc0, fmr_command_timing) != 0) return 1;
    std::uint32_t status = 0;
    std::uint32_t errors = 0;
    if (const int waited = wait_until_ready(status, errors)) return waited == 4 ? 4 : 5;
    const std::uint32_t status_before = status;
    if (monitor_write_word(mc_fcr_efc0, fcr_set_boot_bit) != 0) return 1;
    if (const int waited = wait_until_ready(status, errors)) return waited == 4 ? 4 : 6;
    // The command's acknowledgement is no proof: the device must show the bit,
    // and nothing else new. A command spoilt on its way may have set another
    // bit: the security bit, which only a full chip erase clears.
    if (errors != 0 || !(status & fsr_gpnvm2)) return 7;
    if ((status ^ status_before) & ~(fsr_frdy | fsr_locke | fsr_proge | fsr_gpnvm2)) return 7;
    print_switch_off_banner("    * Возврат к прежней программе произведен! *");
    return 0;
}
