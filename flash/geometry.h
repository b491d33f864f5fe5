// The AT91SAM7SE512's embedded flash and SRAM as the programs address them:
// the one place of these facts (the virtual device keeps its own, so that it
// checks them).
#pragma once

#include <cstdint>

constexpr std::uint32_t flash_base = 0x00100000;
constexpr std::uint32_t flash_size = 512 * 1024;
// Two banks, one flash controller (EFC0, EFC1) each.
constexpr std::uint32_t flash_bank_size = flash_size / 2;
// 16 lock regions of 16 KiB per bank.
constexpr int lock_region_count = 32;
constexpr std::uint32_t lock_region_size = flash_size / lock_region_count;

// The programs' transfer unit, "a page" on their consoles: four of the
// chip's 256-byte pages, one block on the link.
constexpr std::uint32_t page_size = 1024;
constexpr int flash_pages = static_cast<int>(flash_size / page_size);

constexpr std::uint32_t sram_base = 0x00200000;
constexpr std::uint32_t sram_end = 0x00208000;
