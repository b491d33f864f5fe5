// The flash applet's host side: loading it into SRAM, one command per start
// through the mailbox, and the flash jobs of a programming run. Each job
// tells its observer how it goes and returns what happened.
#pragma once

#include "device/outcome.h"

#include <cstdint>
#include <vector>

// Sets the flash timing, uploads the applet, runs its initialisation and
// keeps the applet buffer address and the lock region count it reports.
// Must run first.
Outcome prepare_flash_applet(StepObserver& observer);
// Clears the boot bit when the device shows it set: a run that stops from
// there on leaves a device that starts its boot monitor.
Outcome clear_boot_bit_if_set();
// Clears the boot bit when the device shows it set, then unlocks every lock
// region and erases the whole flash.
Outcome unlock_and_erase_all(StepObserver& observer);
// Sends one page (page_size bytes) to the applet buffer and writes it at
// `offset` bytes from the start of flash.
Outcome write_flash_page(std::uint32_t offset, const unsigned char* page);
Outcome lock_all_regions(StepObserver& observer);
// Unlocks (step unlock) or locks (step lock) the lock regions listed.
Outcome change_regions(Step step, const std::vector<int>& regions, StepObserver& observer);
// The CRC-32 of each CHECKSUM_BLOCK_SIZE block of `length` bytes of flash
// from `offset`, as the applet computes them on the device.
Outcome read_block_checksums(Step step, std::uint32_t offset, std::uint32_t length,
                             std::vector<std::uint32_t>& checksums);
// Sets GPNVM bit 2 so that the device boots from flash, then reads back that
// the device shows every region locked and that bit set.
Outcome set_boot_from_flash(StepObserver& observer);
