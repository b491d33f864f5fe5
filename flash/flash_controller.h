// Direct work on the embedded flash controllers through the monitor's word
// commands: the flash mode registers, their status, and the cancel of
// programming mode.
#pragma once

#include <cstdint>

// Memory-controller registers.
constexpr std::uint32_t mc_puer = 0xFFFFFF54;       // protection unit enable
constexpr std::uint32_t mc_fmr_efc0 = 0xFFFFFF60;   // flash mode, controller 0
constexpr std::uint32_t mc_fcr_efc0 = 0xFFFFFF64;   // flash command, controller 0
constexpr std::uint32_t mc_fsr_efc0 = 0xFFFFFF68;   // flash status, controller 0
constexpr std::uint32_t mc_fmr_efc1 = 0xFFFFFF70;   // flash mode, controller 1
constexpr std::uint32_t mc_fsr_efc1 = 0xFFFFFF78;   // flash status, controller 1

// MC_FSR bits.
constexpr std::uint32_t fsr_frdy = 1u << 0;
constexpr std::uint32_t fsr_locke = 1u << 2;          // a command met a locked region
constexpr std::uint32_t fsr_proge = 1u << 3;          // a command was refused
constexpr std::uint32_t fsr_security = 1u << 4;
constexpr int fsr_gpnvm_shift = 8;                    // GPNVM0 to GPNVM2 from here
constexpr std::uint32_t fsr_gpnvm2 = 1u << 10;        // boot from flash
constexpr int fsr_locks_shift = 16;
constexpr std::uint32_t fsr_all_locks = 0xFFFF0000;   // the 16 lock bits of one bank

// What both controllers' status registers show together.
struct FlashState {
    std::uint32_t lock_bits = 0;  // bit n: region n locked
    int gpnvm[3] = {};
    int security = 0;
    bool all_locked() const { return lock_bits == 0xFFFFFFFF; }
    bool boots_from_flash() const { return gpnvm[2] != 0; }
};

// Regions 0 to 15 belong to controller 0, 16 to 31 to controller 1; the
// GPNVM and security bits are the chip's, shown by controller 0.
FlashState decode_flash_state(std::uint32_t efc0_status, std::uint32_t efc1_status);

// write_failed: a register write; not_ready_before and not_ready_after: the
// boot-bit command; boot_bit_not_set: refused (LOCKE, PROGE), or GPNVM2
// still clear once the controller is ready.
enum class [[nodiscard]] FlashResult : int {
    ok = 0, write_failed = 1, status_unreadable = 4, not_ready_before = 5, not_ready_after = 6, boot_bit_not_set = 7
};

// Writes both flash mode registers (FMCN 52, FWS 2); stops at the first
// write that fails.
FlashResult set_flash_modes();

// MC_FSR of controller 0 (selector 0) or 1 (any other): ok, or
// status_unreadable.
FlashResult read_flash_status(int controller, std::uint32_t& status);
// Both controllers' status: ok, or status_unreadable.
FlashResult read_flash_state(FlashState& state);

// Sets GPNVM bit 2 through the registers, so that the device starts from
// flash again.
FlashResult cancel_programming_mode();
