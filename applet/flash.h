// The flash of the AT91SAM7SE512 and its two embedded flash controllers:
// the geometry, and the controller commands with their error bits.
#ifndef APPLET_FLASH_H
#define APPLET_FLASH_H

#include <stdint.h>

#define FLASH_BASE 0x00100000u
#define FLASH_SIZE 0x00080000u
#define BANK_SIZE 0x00040000u  // one controller each
#define PAGE_SIZE 256u
#define LOCK_REGION_SIZE 0x4000u
#define LOCK_REGION_COUNT 32u
#define REGIONS_PER_BANK (BANK_SIZE / LOCK_REGION_SIZE)
#define PAGES_PER_REGION (LOCK_REGION_SIZE / PAGE_SIZE)

// MC_FSR of either controller.
#define FSR_SECURITY 0x10u
#define FSR_GPNVM0 8u  // bit number; GPNVM1 and GPNVM2 follow

// Controller command codes, by their datasheet names.
enum efc_command {
    EFC_WP = 0x01,    // write page
    EFC_SLB = 0x02,   // set lock bit
    EFC_CLB = 0x04,   // clear lock bit
    EFC_EA = 0x08,    // erase all
    EFC_SGPB = 0x0B,  // set GPNVM bit
    EFC_CGPB = 0x0D,  // clear GPNVM bit
    EFC_SSB = 0x0F,   // set security bit
};

// Issues a command to controller 0 or 1 and waits, without a time-out, until
// the controller is ready. Returns the LOCKE and PROGE bits it showed on the
// way: 0 is success.
uint32_t efc_run(unsigned controller, enum efc_command code, uint32_t argument);

// MC_FSR of a controller.
uint32_t efc_status(unsigned controller);

// Both controllers: erase before programming, interrupts off.
void efc_prepare(void);

// Both controllers: program without erasing first (NEBP) while `skip` is set.
void efc_skip_erase(int skip);

// Of the lock regions in `regions` (bit r for region r), those that are
// locked. Reads only the controllers that drive one of them.
uint32_t efc_locked_regions(uint32_t regions);

#endif
