// The flash applet's host side: loading it into SRAM, one command per start
// through the mailbox, and the five flash jobs of a programming run. Each job
// prints its own progress and error lines and returns 0 on success, 1 on
// failure.
#pragma once

#include <cstdint>

// Mailbox command codes.
constexpr std::uint32_t applet_erase_all = 1;
constexpr std::uint32_t applet_write = 2;
constexpr std::uint32_t applet_lock = 4;
constexpr std::uint32_t applet_unlock = 5;
constexpr std::uint32_t applet_gpnvm = 6;

// Uploads the applet, runs its initialisation and takes the applet buffer
// address and the lock region count from its reply. Must run first.
int prepare_flash_applet();
// Unlocks every lock region, then erases the whole flash.
int unlock_and_erase_all();
// Sends the page buffer to the applet buffer and writes it at `offset` bytes
// from the start of flash.
int write_flash_page(std::uint32_t offset);
int lock_all_regions();
// Sets GPNVM bit 2 so the device boots from flash, and prints the banner.
int set_boot_from_flash();

// Transfers of the mailbox and the image. send_mailbox and read_mailbox give
// the codec's block codes; upload_applet gives 0, 1 frame not sent, 2 image
// not sent, 4 reply not read, 3 no prompt.
int send_mailbox();
int read_mailbox();
int upload_applet();
