// One run of the updater against a hostile device: the fuzz back ends of the
// serial platform (serial_fuzz.cpp) and of the operator dialogue
// (dialog_fuzz.cpp) serve the device's bytes and the operator's answers from
// the fuzz input, and no time passes while the updater waits.
#pragma once

#include <cstddef>
#include <cstdint>

struct HostileRun {
    int device_port = 1;              // COMn from this number on opens; the ones below do not
    int start_answer = 0;             // to "start programming?": answer_yes, answer_no or answer_cancel
    int cancel_answer = 0;            // to "cancel programming mode?": answer_yes or answer_no
    std::uint32_t failing_call = 0;   // the port fails at this platform call, counted from 1; 0 never
    const std::uint8_t* device_bytes = nullptr;  // all the device will ever send
    std::size_t device_byte_count = 0;
};

// Set up each back end for the next run.
void begin_serial(const HostileRun& run);
void begin_dialogue(const HostileRun& run);

// What the dialogue showed during the run.
struct BoxesShown {
    int outcomes = 0;         // boxes that only inform: an error or the end of a job
    // A read after a start that was not sent shows the no-device box; then
    // the job's no-completion line with 1, then the final Error 11 box. Such
    // a no-device box is not counted in `outcomes`; this notes the order was
    // broken (another line or box between).
    bool stray_no_device = false;
    bool write_done = false;  // "new program written"
    bool mode_cancelled = false;
};
const BoxesShown& boxes_shown();

// Ends the process with the reason, where the sanitizers would.
[[noreturn]] void hostile_run_failed(const char* what, unsigned long long detail);
