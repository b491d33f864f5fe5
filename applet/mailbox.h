// The contract between the flash applet and the host that drives it: where
// the applet runs, the record in which the host hands it one command with
// its arguments and reads back the status and the results, and the codes.
// Included by the applet (C) and by the updater (C++).
#ifndef APPLET_MAILBOX_H
#define APPLET_MAILBOX_H

#include <stddef.h>
#include <stdint.h>

// The target has no C library, so no <assert.h>.
#ifdef __cplusplus
#define MAILBOX_CHECK(condition, what) static_assert(condition, what)
#else
#define MAILBOX_CHECK(condition, what) _Static_assert(condition, what)
#endif

// The image is loaded and entered here, in ARM state; the mailbox follows
// the entry branch.
#define APPLET_LOAD_ADDRESS 0x00202000u
#define MAILBOX_ADDRESS 0x00202004u
// What the host sends and reads back; the applet never touches the bytes
// after its record.
#define MAILBOX_SIZE 128u

enum command_code {
    COMMAND_INIT = 0,
    COMMAND_ERASE_ALL = 1,
    COMMAND_WRITE = 2,
    COMMAND_READ = 3,
    COMMAND_LOCK = 4,
    COMMAND_UNLOCK = 5,
    COMMAND_GPNVM = 6,
    COMMAND_SECURITY = 7,
    // CRC-32 (reflected polynomial 0xEDB88320, initial and final value
    // 0xFFFFFFFF, as zlib's) of each CHECKSUM_BLOCK_SIZE block of a flash
    // range, into the buffer: argument 0 the destination, argument 1 the
    // range's length in bytes, argument 2 its offset from the flash's start,
    // both whole blocks. One little-endian word per block; argument 0 then
    // holds the length, as WRITE's does.
    COMMAND_CHECKSUM = 8,
};

#define CHECKSUM_BLOCK_SIZE 1024u

// SECURITY sets a bit that only a full chip erase clears, and the host never
// asks for it: it acts only with this key in argument 0, so that no single
// byte spoilt on the link can turn another command into it.
#define SECURITY_KEY 0x53454355u  // "SECU"

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

struct mailbox {
    uint32_t command;      // replaced by its complement on completion
    uint32_t status;       // left alone for an unknown command
    uint32_t argument[3];  // results overwrite them
    uint16_t lock_region_size;
    uint16_t lock_region_count;
};

// Byte offsets of the fields, for a host that fills and reads the record as
// bytes (the target is little-endian).
#define MAILBOX_COMMAND 0x00u
#define MAILBOX_STATUS 0x04u
#define MAILBOX_ARGUMENT_0 0x08u
#define MAILBOX_ARGUMENT_1 0x0Cu
#define MAILBOX_ARGUMENT_2 0x10u
#define MAILBOX_LOCK_REGION_COUNT 0x16u
// What INIT reports in the argument words.
#define MAILBOX_BUFFER_ADDRESS MAILBOX_ARGUMENT_1

MAILBOX_CHECK(offsetof(struct mailbox, command) == MAILBOX_COMMAND, "command word");
MAILBOX_CHECK(offsetof(struct mailbox, status) == MAILBOX_STATUS, "status word");
MAILBOX_CHECK(offsetof(struct mailbox, argument) == MAILBOX_ARGUMENT_0, "argument 0");
MAILBOX_CHECK(offsetof(struct mailbox, argument) + 4 == MAILBOX_ARGUMENT_1, "argument 1");
MAILBOX_CHECK(offsetof(struct mailbox, argument) + 8 == MAILBOX_ARGUMENT_2, "argument 2");
MAILBOX_CHECK(offsetof(struct mailbox, lock_region_count) == MAILBOX_LOCK_REGION_COUNT, "lock region count");
MAILBOX_CHECK(sizeof(struct mailbox) <= MAILBOX_SIZE, "record inside what the host reads");
MAILBOX_CHECK(MAILBOX_ADDRESS == APPLET_LOAD_ADDRESS + 4, "mailbox after the entry branch");

// Carries out the command in the mailbox and completes it. Entered from the
// start-up code in Thumb state.
void applet_main(struct mailbox *mailbox);

#endif
