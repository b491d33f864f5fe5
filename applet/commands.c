#include "copy.h"
#include "flash.h"
#include "mailbox.h"

// Placed by the linker script: the buffer ends where the stack begins.
extern uint8_t applet_buffer_start[];
extern uint8_t applet_buffer_end[];

#define DBGU_SR (*(volatile uint32_t *)0xFFFFF214u)
#define DBGU_THR (*(volatile uint32_t *)0xFFFFF21Cu)
#define DBGU_TXEMPTY 0x200u
#define ACKNOWLEDGE 0x06u
#define LINK_ACKNOWLEDGED 1u  // the link type that wants ACKNOWLEDGE after every command

#define PAGE_WORDS (PAGE_SIZE / 4)
#define GPNVM_BITS 3u

// The data area: zero at the first entry after an upload, kept from one
// entry to the next.
static uint32_t link_type;
static uint32_t page_merge[PAGE_WORDS];

static const uint8_t *flash_at(uint32_t offset) { return (const uint8_t *)(FLASH_BASE + offset); }

static void init(struct mailbox *mailbox) {
    link_type = mailbox->argument[0];
    efc_prepare();
    uint32_t buffer = (uint32_t)applet_buffer_start;
    mailbox->argument[0] = FLASH_SIZE;
    mailbox->argument[1] = buffer;
    mailbox->argument[2] = ((uint32_t)applet_buffer_end - buffer) & ~(PAGE_SIZE - 1);
    mailbox->lock_region_size = LOCK_REGION_SIZE;
    mailbox->lock_region_count = LOCK_REGION_COUNT;
    mailbox->status = STATUS_OK;
}

#define SRAM_START 0x00200000u
#define SRAM_END 0x00208000u

// Whether [address, address + count) lies within [start, end); an empty
// range lies anywhere.
static int within(uint32_t address, uint32_t count, uint32_t start, uint32_t end) {
    return count == 0 || (address >= start && address <= end && count <= end - address);
}

static int within_flash(uint32_t offset, uint32_t count) {
    return offset <= FLASH_SIZE && count <= FLASH_SIZE - offset;
}

// Bit r set for every lock region that holds a byte of the range.
static uint32_t regions_of(uint32_t offset, uint32_t count) {
    if (count == 0) return 0;
    uint32_t first = offset / LOCK_REGION_SIZE;
    uint32_t last = (offset + count - 1) / LOCK_REGION_SIZE;
    return (0xFFFFFFFFu << first) & (0xFFFFFFFFu >> (31 - last));
}

// The page keeps the bytes outside [in_page, in_page + count).
static void merge_page(uint32_t page_offset, uint32_t in_page, const uint8_t *source, uint32_t count) {
    uint8_t *merge = (uint8_t *)page_merge;
    copy_bytes(merge, flash_at(page_offset), PAGE_SIZE);
    copy_bytes(merge + in_page, source, count);
}

static void load_latch(uint32_t page_offset, unsigned first_word) {
    volatile uint32_t *latch = (volatile uint32_t *)(FLASH_BASE + page_offset);
    for (unsigned i = first_word; i < PAGE_WORDS; i += 2) latch[i] = page_merge[i];
}

// Erases the page and programs its even words, then programs its odd words
// without an erase. A failed second pass leaves erase skipping on until the
// next INIT or the next page that completes.
static int program_page(uint32_t page_offset) {
    unsigned controller = page_offset / BANK_SIZE;
    uint32_t page = page_offset % BANK_SIZE / PAGE_SIZE;
    load_latch(page_offset, 0);
    if (efc_run(controller, EFC_WP, page)) return 0;
    efc_skip_erase(1);
    load_latch(page_offset, 1);
    if (efc_run(controller, EFC_WP, page)) return 0;
    efc_skip_erase(0);
    return 1;
}

// Outside SRAM the source may be an undefined area, whose reads abort.
static uint32_t write_flash(const uint8_t *source, uint32_t count, uint32_t offset) {
    if (!within_flash(offset, count) || !within((uint32_t)source, count, SRAM_START, SRAM_END))
        return STATUS_BAD_ARGUMENT;
    if (efc_locked_regions(regions_of(offset, count))) return STATUS_REGION_LOCKED;
    while (count) {
        uint32_t in_page = offset % PAGE_SIZE;
        uint32_t part = PAGE_SIZE - in_page < count ? PAGE_SIZE - in_page : count;
        merge_page(offset - in_page, in_page, source, part);
        if (!program_page(offset - in_page)) return STATUS_WRITE_FAILED;
        source += part;
        offset += part;
        count -= part;
    }
    return STATUS_OK;
}

static void write_command(struct mailbox *mailbox) {
    uint32_t count = mailbox->argument[1];
    uint32_t status = write_flash((const uint8_t *)mailbox->argument[0], count, mailbox->argument[2]);
    mailbox->argument[0] = status == STATUS_OK ? count : 0;
    mailbox->status = status;
}

// Into the buffer only: anywhere else the copy could overwrite the applet
// and its stack, or abort in an undefined area.
static void read_command(struct mailbox *mailbox) {
    uint32_t destination = mailbox->argument[0];
    uint32_t count = mailbox->argument[1];
    uint32_t offset = mailbox->argument[2];
    uint32_t buffer = (uint32_t)applet_buffer_start;
    if (!within_flash(offset, count) || !within(destination, count, buffer, (uint32_t)applet_buffer_end)) {
        mailbox->argument[0] = 0;
        mailbox->status = STATUS_BAD_ARGUMENT;
        return;
    }
    copy_bytes((uint8_t *)destination, flash_at(offset), count);
    mailbox->argument[0] = count;
    mailbox->status = STATUS_OK;
}

// The CRC-32 of one nibble, for the reflected polynomial 0xEDB88320: a
// 64-byte table where a byte table would take a kilobyte.
static const uint32_t crc_of_nibble[16] = {
    0x00000000u, 0x1DB71064u, 0x3B6E20C8u, 0x26D930ACu, 0x76DC4190u, 0x6B6B51F4u, 0x4DB26158u, 0x5005713Cu,
    0xEDB88320u, 0xF00F9344u, 0xD6D6A3E8u, 0xCB61B38Cu, 0x9B64C2B0u, 0x86D3D2D4u, 0xA00AE278u, 0xBDBDF21Cu,
};

#define CRC_NIBBLE(crc) ((crc) >> 4 ^ crc_of_nibble[(crc) & 0xFu])

// In ARM state, whose shifted operands make a nibble three instructions
// (Thumb needs five), and unrolled: the whole flash stays well under the
// device's time for a command. Flash takes aligned word loads only; a word
// holds its first byte in its low bits, which a reflected CRC takes first.
__attribute__((target("arm"), noinline)) static uint32_t crc32_block(const uint32_t *word) {
    const uint32_t *end = word + CHECKSUM_BLOCK_SIZE / 4;
    uint32_t crc = 0xFFFFFFFFu;
    do {
        crc ^= *word++;
        crc = CRC_NIBBLE(crc);
        crc = CRC_NIBBLE(crc);
        crc = CRC_NIBBLE(crc);
        crc = CRC_NIBBLE(crc);
        crc = CRC_NIBBLE(crc);
        crc = CRC_NIBBLE(crc);
        crc = CRC_NIBBLE(crc);
        crc = CRC_NIBBLE(crc);
    } while (word != end);
    return ~crc;
}

// Into the buffer only, as READ. Byte by byte: the destination need not be
// word-aligned, and an unaligned word store would land below it.
static void checksum_command(struct mailbox *mailbox) {
    uint8_t *destination = (uint8_t *)mailbox->argument[0];
    uint32_t count = mailbox->argument[1];
    uint32_t offset = mailbox->argument[2];
    uint32_t blocks = count / CHECKSUM_BLOCK_SIZE;
    if ((count | offset) % CHECKSUM_BLOCK_SIZE || !within_flash(offset, count) ||
        !within((uint32_t)destination, blocks * 4, (uint32_t)applet_buffer_start, (uint32_t)applet_buffer_end)) {
        mailbox->argument[0] = 0;
        mailbox->status = STATUS_BAD_ARGUMENT;
        return;
    }
    for (const uint32_t *block = (const uint32_t *)flash_at(offset); blocks--; block += CHECKSUM_BLOCK_SIZE / 4) {
        uint32_t crc = crc32_block(block);
        for (unsigned i = 0; i < 4; ++i, crc >>= 8) *destination++ = (uint8_t)crc;
    }
    mailbox->argument[0] = count;
    mailbox->status = STATUS_OK;
}

static uint32_t erase_all(void) {
    if (efc_locked_regions(regions_of(0, FLASH_SIZE))) return STATUS_REGION_LOCKED;
    // Bank 1 is erased page by page as WRITE programs it.
    return efc_run(0, EFC_EA, 0) ? STATUS_ERASE_FAILED : STATUS_OK;
}

static uint32_t change_lock_bit(uint32_t region, enum efc_command code, uint32_t failure) {
    if (region >= LOCK_REGION_COUNT) return STATUS_BAD_ARGUMENT;
    uint32_t first_page = region % REGIONS_PER_BANK * PAGES_PER_REGION;
    return efc_run(region / REGIONS_PER_BANK, code, first_page) ? failure : STATUS_OK;
}

// GPNVM and security bits live in controller 0; a bit already as wanted
// costs no command.
static uint32_t change_nvm_bit(int is_wanted, enum efc_command code, uint32_t argument) {
    if (is_wanted) return STATUS_OK;
    return efc_run(0, code, argument) ? STATUS_NVM_BIT_FAILED : STATUS_OK;
}

static uint32_t gpnvm(uint32_t action, uint32_t bit) {
    if (bit >= GPNVM_BITS) return STATUS_BAD_ARGUMENT;
    int set = action != 0;
    int is_set = (efc_status(0) >> (FSR_GPNVM0 + bit) & 1u) != 0;
    return change_nvm_bit(set == is_set, set ? EFC_SGPB : EFC_CGPB, bit);
}

static uint32_t security(uint32_t key) {
    if (key != SECURITY_KEY) return STATUS_BAD_ARGUMENT;
    return change_nvm_bit((efc_status(0) & FSR_SECURITY) != 0, EFC_SSB, 0);
}

static void acknowledge(void) {
    while (!(DBGU_SR & DBGU_TXEMPTY)) {
    }
    DBGU_THR = ACKNOWLEDGE;
    while (!(DBGU_SR & DBGU_TXEMPTY)) {
    }
}

void applet_main(struct mailbox *mailbox) {
    uint32_t command = mailbox->command;
    switch (command) {
    case COMMAND_INIT:
        init(mailbox);
        break;
    case COMMAND_ERASE_ALL:
        mailbox->status = erase_all();
        break;
    case COMMAND_WRITE:
        write_command(mailbox);
        break;
    case COMMAND_READ:
        read_command(mailbox);
        break;
    case COMMAND_LOCK:
        mailbox->status = change_lock_bit(mailbox->argument[0], EFC_SLB, STATUS_LOCK_FAILED);
        break;
    case COMMAND_UNLOCK:
        mailbox->status = change_lock_bit(mailbox->argument[0], EFC_CLB, STATUS_UNLOCK_FAILED);
        break;
    case COMMAND_GPNVM:
        mailbox->status = gpnvm(mailbox->argument[0], mailbox->argument[1] & 0xFFu);
        break;
    case COMMAND_SECURITY:
        mailbox->status = security(mailbox->argument[0]);
        break;
    case COMMAND_CHECKSUM:
        checksum_command(mailbox);
        break;
    }
    mailbox->command = ~command;
    if (link_type == LINK_ACKNOWLEDGED) acknowledge();
}
