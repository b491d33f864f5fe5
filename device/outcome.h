// What a device step tells its caller: which step, why it failed, and where.
// Steps never print or ask; each program turns outcomes into its own words
// (the operator's console lines and boxes, the flasher's exit codes).
#pragma once

#include <cstdint>

enum class Step {
    none,
    port_search,       // COM1 to COM32
    port_open,         // a port given by name
    controller_check,  // the monitor's prompt and the chip id
    flash_modes,       // the flash timing set before reads of the flash
    applet,            // flash timing, upload and INIT of the flash applet
    boot_bit_clear,    // a boot bit found set cleared before anything is erased
    unlock,            // by lock region
    erase,
    write,             // by page
    compare,           // by page
    lock,              // by lock region
    boot_bit,          // the boot bit through the applet, and the end state read back
    cancel,            // the boot bit through the registers: programming mode cancelled
    flash_state,       // the lock, GPNVM and security bits read
    flash_read,        // flash contents read back
    checksum,          // the device's block checksums read, to find what changed
    check,             // every block's checksum against what the flash must hold
    restart,           // the controller reset, to start the firmware
};

enum class Cause {
    none,
    // The port: `code` is the PortSearch number of the last port tried.
    no_device,          // the search found no port that answered
    several_devices,    // more than one port answered, and none was chosen
    port_missing,
    port_not_opened,    // for another reason than the three around it
    port_busy,          // another program holds it
    port_denied,        // the user may not use it
    port_unusable,      // it opened, but its set-up failed
    no_greeting_answer, // it opened, but no monitor answered
    // The controller.
    monitor_silent,     // the greeting's prompt or the chip id did not come
    wrong_controller,
    // Direct register work: `code` is the FlashResult number.
    registers_not_written,
    status_unreadable,
    controller_not_ready,
    // The applet's mailbox exchange: `code` is the number of the failed call
    // (MonitorResult, PortRead) or the applet's status byte.
    applet_not_uploaded,  // `code`: 1 frame, 2 image, 3 no prompt, 4 no reply
    mailbox_not_sent,
    start_not_sent,       // the port closed before the start; the reply cannot come
    no_completion,        // the start's reply did not come (`code`: PortRead)
    mailbox_not_read,
    completion_mark_missing,  // the mailbox was not answered by this command
    arguments_changed,        // the command was carried out with other arguments
    command_refused,          // the applet's status (`code`) is not OK
    buffer_outside_sram,      // INIT reported the buffer at `address`
    // Data.
    page_not_sent,      // `code`: MonitorResult
    page_not_read,      // `code`: MonitorResult
    image_unreadable,   // the image file failed while read
    mismatch,           // at `address`: `image_byte` against `flash_byte`
    block_differs,      // the block at `address` (`unit`) holds other bytes than it must
    // The end state read back.
    locks_not_set,
    boot_bit_not_set,
    boot_bit_not_cleared,
    // The observer asked the step to stop, at a point where no command
    // waits for its reply.
    stopped,
};

struct [[nodiscard]] Outcome {
    Step step = Step::none;
    Cause cause = Cause::none;
    int code = 0;
    std::uint32_t address = 0;  // flash address of a page or byte; the buffer's for buffer_outside_sram
    int unit = -1;              // the lock region or page, from 0; -1 when none
    unsigned image_byte = 0;
    unsigned flash_byte = 0;

    bool ok() const { return cause == Cause::none; }
};

inline Outcome done(Step step) { return {step}; }
inline Outcome failed(Step step, Cause cause, int code = 0) { return {step, cause, code}; }

// What a step tells while it goes: it has started (with the regions or
// pages to do when it knows them, else 0), one more region or page is done
// (`units_done` counts from 1), it is done. A program shows progress
// from these; steps that fail end without `finished`. Between two regions,
// pages or blocks, and between two steps, a step asks whether to stop.
class StepObserver {
public:
    virtual ~StepObserver() = default;
    virtual void started(Step, int /*units*/ = 0) {}
    virtual void advanced(Step, int /*units_done*/) {}
    virtual void finished(Step) {}
    virtual bool should_stop() { return false; }
};
