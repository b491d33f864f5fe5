// The flash applet's host side: loading it into SRAM, one command per start
// through the mailbox, and the five flash jobs of a programming run. Each job
// prints its own progress and error lines.
#pragma once

#include <cstdint>

enum class [[nodiscard]] JobResult : int { ok = 0, failed = 1 };

// Uploads the applet, runs its initialisation and keeps the applet buffer
// address and the lock region count it reports. Must run first.
JobResult prepare_flash_applet();
// Unlocks every lock region, then erases the whole flash.
JobResult unlock_and_erase_all();
// Sends one page (page_size bytes) to the applet buffer and writes it at
// `offset` bytes from the start of flash.
JobResult write_flash_page(std::uint32_t offset, const unsigned char* page);
JobResult lock_all_regions();
// Sets GPNVM bit 2 so that the device boots from flash, then reads back that
// the device shows every region locked and that bit set.
JobResult set_boot_from_flash();
