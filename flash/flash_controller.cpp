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
constexpr std::uint32_t fsr_frdy = 0x1;

// A GPNVM command takes about 1 ms; ten polls a millisecond apart cover it
// with margin.
constexpr int ready_polls = 10;
constexpr auto ready_poll_pause = std::chrono::milliseconds(1);

// 0 ready, 4 status read failed, 1 never ready.
int wait_until_ready() {
    for (int poll = 0; poll < ready_polls; ++poll) {
        const int ready = flash_ready(0);
        if (ready == 4) return 4;
        if (ready == 1) return 0;
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

int flash_ready(int controller) {
    if (monitor_read_word(controller == 0 ? mc_fsr_efc0 : mc_fsr_efc1) != 0) return 4;
    return (parse_reply_value(4) & fsr_frdy) ? 1 : 0;
}

int cancel_programming_mode() {
    if (monitor_write_word(mc_puer, 0) != 0) return 1;
    if (monitor_write_word(mc_fmr_efc0, fmr_command_timing) != 0) return 1;
    if (const int waited = wait_until_ready()) return waited == 4 ? 4 : 5;
    if (monitor_write_word(mc_fcr_efc0, fcr_set_boot_bit) != 0) return 1;
    if (const int waited = wait_until_ready()) return waited == 4 ? 4 : 6;
    print_switch_off_banner("    * Возврат к прежней программе произведен! *");
    return 0;
}
