#include "flash.h"

struct efc_registers {
    uint32_t mode;     // MC_FMR
    uint32_t command;  // MC_FCR
    uint32_t status;   // MC_FSR
    uint32_t reserved;
};

#define EFC ((volatile struct efc_registers *)0xFFFFFF60u)

#define FMR_INTERRUPT_ENABLES 0x0Du  // FRDY, LOCKE, PROGE
#define FMR_NEBP 0x80u
#define FMR_FMCN_SHIFT 16
#define FMR_FMCN_MASK (0xFFu << FMR_FMCN_SHIFT)
#define FCR_KEY 0x5A000000u
#define FCR_ARGUMENT_SHIFT 8
#define FSR_FRDY 0x01u
#define FSR_ERRORS 0x0Cu  // LOCKE, PROGE
#define FSR_LOCKS_SHIFT 16

// Flash timing for a 48 MHz master clock: cycles in 1.5 us for page write
// and erase, in 1 us for the lock, GPNVM and security bits.
static uint32_t fmcn_for(enum efc_command code) {
    return code == EFC_WP || code == EFC_EA ? 72u : 48u;
}

uint32_t efc_run(unsigned controller, enum efc_command code, uint32_t argument) {
    volatile struct efc_registers *efc = &EFC[controller];
    efc->mode = (efc->mode & ~FMR_FMCN_MASK) | fmcn_for(code) << FMR_FMCN_SHIFT;
    efc->command = FCR_KEY | argument << FCR_ARGUMENT_SHIFT | code;
    // A read clears LOCKE and PROGE, so an error shown while still busy
    // must be kept until the controller is ready.
    uint32_t status, errors = 0;
    do {
        status = efc->status;
        errors |= status & FSR_ERRORS;
    } while (!(status & FSR_FRDY));
    return errors;
}

uint32_t efc_status(unsigned controller) { return EFC[controller].status; }

void efc_prepare(void) {
    for (unsigned controller = 0; controller < 2; ++controller)
        EFC[controller].mode &= ~(FMR_NEBP | FMR_INTERRUPT_ENABLES);
}

void efc_skip_erase(int skip) {
    for (unsigned controller = 0; controller < 2; ++controller) {
        if (skip)
            EFC[controller].mode |= FMR_NEBP;
        else
            EFC[controller].mode &= ~FMR_NEBP;
    }
}

uint32_t efc_locked_regions(uint32_t regions) {
    uint32_t locked = 0;
    if (regions & 0x0000FFFFu) locked |= efc_status(0) >> FSR_LOCKS_SHIFT;
    if (regions & 0xFFFF0000u) locked |= efc_status(1) & 0xFFFF0000u;
    return locked & regions;
}
