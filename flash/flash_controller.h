// Direct work on the embedded flash controllers through the monitor's word
// commands: the flash mode registers and the cancel of programming mode.
#pragma once

#include <cstdint>

// Memory-controller registers.
constexpr std::uint32_t mc_puer = 0xFFFFFF54;       // protection unit enable
constexpr std::uint32_t mc_fmr_efc0 = 0xFFFFFF60;   // flash mode, controller 0
constexpr std::uint32_t mc_fcr_efc0 = 0xFFFFFF64;   // flash command, controller 0
constexpr std::uint32_t mc_fsr_efc0 = 0xFFFFFF68;   // flash status, controller 0
constexpr std::uint32_t mc_fmr_efc1 = 0xFFFFFF70;   // flash mode, controller 1
constexpr std::uint32_t mc_fsr_efc1 = 0xFFFFFF78;   // flash status, controller 1

// Writes both flash mode registers (FMCN 52, FWS 2). 0 done; 1 as soon as a
// write fails.
int set_flash_modes();

// The FRDY bit of controller 0 (selector 0) or 1 (any other): 1 ready,
// 0 busy, 4 the status register could not be read.
int flash_ready(int controller);

// Sets GPNVM bit 2 through the registers so that the device starts from flash
// again, and prints the banner that tells the operator to switch off.
// 0 done; 1 a register write failed; 4 a status read failed; 5 not ready
// before the command; 6 not ready after it.
int cancel_programming_mode();
