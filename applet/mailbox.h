// The record in which the host hands the applet one command with its
// arguments and reads back the status and the results.
#ifndef APPLET_MAILBOX_H
#define APPLET_MAILBOX_H

#include <stdint.h>

enum command_code {
    COMMAND_INIT = 0,
    COMMAND_ERASE_ALL = 1,
    COMMAND_WRITE = 2,
    COMMAND_READ = 3,
    COMMAND_LOCK = 4,
    COMMAND_UNLOCK = 5,
    COMMAND_GPNVM = 6,
    COMMAND_SECURITY = 7,
};

enum command_status {
    STATUS_OK = 0,
    STATUS_BAD_ARGUMENT = 1,  // outside the flash, its regions and bits, SRAM or the buffer: nothing done
    STATUS_WRITE_FAILED = 2,
    STATUS_REGION_LOCKED = 4, // WRITE and ERASE_ALL: nothing done
    STATUS_LOCK_FAILED = 4,
    STATUS_UNLOCK_FAILED = 5,
    STATUS_ERASE_FAILED = 6,
    STATUS_NVM_BIT_FAILED = 15,
};

// The host reads 128 bytes; the applet never touches the bytes after these.
struct mailbox {
    uint32_t command;      // replaced by its complement on completion
    uint32_t status;       // left alone for an unknown command
    uint32_t argument[3];  // results overwrite them
    uint16_t lock_region_size;
    uint16_t lock_region_count;
};

// Carries out the command in the mailbox and completes it. Entered from the
// start-up code in Thumb state.
void applet_main(struct mailbox *mailbox);

#endif
