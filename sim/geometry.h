// The AT91SAM7SE512's memory map as far as the virtual device models it.
#pragma once

#include <cstdint>

namespace sim {

inline constexpr std::uint32_t flash_base = 0x00100000;
inline constexpr std::uint32_t flash_size = 0x00080000;
inline constexpr std::uint32_t bank_size = 0x00040000;  // one per flash controller
inline constexpr std::uint32_t page_size = 256;
inline constexpr std::uint32_t pages_per_bank = 1024;
inline constexpr std::uint32_t pages_per_region = 64;  // a lock region is 16 KiB
inline constexpr std::uint32_t regions_per_bank = 16;
inline constexpr int controller_count = 2;

inline constexpr std::uint32_t sram_base = 0x00200000;
inline constexpr std::uint32_t sram_size = 0x00008000;
inline constexpr std::uint32_t stack_top = sram_base + sram_size;

// The system controller and the peripherals, which answer register by register.
inline constexpr std::uint32_t peripheral_base = 0xFFF00000;

inline bool in_flash(std::uint32_t address) { return address - flash_base < flash_size; }
inline bool in_sram(std::uint32_t address) { return address - sram_base < sram_size; }
inline bool in_peripherals(std::uint32_t address) { return address >= peripheral_base; }

}  // namespace sim
