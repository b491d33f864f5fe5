// The whole update in-process against a hostile device.
//
// Input: four header bytes, then every byte the device will send.
//   byte 0: the device's port, COM1 + (byte % 32); the ports below it do not open
//   byte 1: the answers: to "start programming?" yes, no, cancel for
//           byte % 3 = 0, 1, 2; to "cancel programming mode?" yes when
//           byte / 3 is even, no when odd
//   bytes 2-3: the platform call (little-endian, from 1) at which the port
//           fails; 0: never
//
// Beside the sanitizers, the back ends' checks (every block sent lies in
// SRAM, no run without end) and these: at most one box that ends the run,
// the success box only after Yes, the cancel box only after No then Yes; a
// no-device box during the run only right before its no-completion line
// and the final Error 11.
#include "app/update_driver.h"
#include "fuzz/updater/hostile_run.h"
#include "ui/dialog.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// The job files' folder, the current one while the updater runs; libFuzzer
// names its own files relative to the one it was started in.
std::filesystem::path folder;
std::filesystem::path start_folder;

void remove_folder() { std::filesystem::remove_all(folder); }

// The image a run programs: one page, not a whole one, so that a successful
// run needs a short input. fuzz/updater/make-seeds writes the same bytes.
void write_job_files() {
    std::ofstream(folder / "f_write.txt", std::ios::binary) << "image.bin";
    std::ofstream image(folder / "image.bin", std::ios::binary);
    for (int i = 0; i < 1000; ++i) image.put(static_cast<char>((i * 37 + 11) % 256));
}

}  // namespace

[[noreturn]] void hostile_run_failed(const char* what, unsigned long long detail) {
    std::fprintf(stderr, "updater fuzz: %s 0x%llX\n", what, detail);
    std::abort();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string name = (std::filesystem::temp_directory_path() / "zelmiran-fuzz-XXXXXX").string();
    if (!mkdtemp(name.data())) {
        std::perror("updater fuzz: mkdtemp");
        std::exit(1);
    }
    folder = name;
    std::atexit(remove_folder);
    write_job_files();
    start_folder = std::filesystem::current_path();
    // The console lines go nowhere; libFuzzer reports on standard error.
    if (!std::freopen("/dev/null", "w", stdout)) std::exit(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t header_size = 4;
    std::uint8_t header[header_size] = {};
    for (std::size_t i = 0; i < header_size && i < size; ++i) header[i] = data[i];
    const int start_answers[] = {answer_yes, answer_no, answer_cancel};

    HostileRun run;
    run.device_port = 1 + header[0] % 32;
    run.start_answer = start_answers[header[1] % 3];
    run.cancel_answer = header[1] / 3 % 2 ? answer_no : answer_yes;
    run.failing_call = header[2] | header[3] << 8;
    run.device_bytes = data + std::min(size, header_size);
    run.device_byte_count = size - std::min(size, header_size);
    begin_serial(run);
    begin_dialogue(run);

    std::filesystem::current_path(folder);
    run_update();
    std::filesystem::current_path(start_folder);

    const BoxesShown& shown = boxes_shown();
    if (shown.outcomes > 1) hostile_run_failed("boxes that end the run:", shown.outcomes);
    if (shown.stray_no_device) hostile_run_failed("no-device box not followed by its line and Error 11", 0);
    if (shown.write_done && run.start_answer != answer_yes) hostile_run_failed("success box without a Yes, answer", run.start_answer);
    if (shown.mode_cancelled && (run.start_answer != answer_no || run.cancel_answer != answer_yes))
        hostile_run_failed("cancel box without No then Yes, answer", run.start_answer);
    return 0;
}
