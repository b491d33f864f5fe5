// What the virtual device costs with the zero timing model: one G of a tiny
// routine (in-process) and one 1 KiB S block with its reply (through the
// pseudo-terminal). Prints medians in microseconds.
#include "arm_code.h"
#include "sim/device.h"
#include "sim_process.h"
#include "support/run_program.h"

#include <algorithm>
#include <cstdio>

namespace {

using steady = std::chrono::steady_clock;

double median_us(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

template <typename Step>
double time_us(int repeats, Step step) {
    std::vector<double> samples;
    for (int i = 0; i < repeats; ++i) {
        const auto start = steady::now();
        step();
        samples.push_back(std::chrono::duration<double, std::micro>(steady::now() - start).count());
    }
    return median_us(samples);
}

double tiny_go_us() {
    sim::Device device{sim::DeviceOptions{}};
    constexpr std::uint32_t code = 0x00202000;
    load_code(device, code, {arm::mov_imm(1, 1), arm::ldr_pc(3, code + 4, code + 16), arm::str(1, 3, 0),
                             arm::bx(arm::lr), 0x00201000});
    device.run(code);
    return time_us(20000, [&] { device.run(code); });
}

// Sends `frame` and waits for a reply of `reply_size` bytes, many times.
double round_trip_us(SimProcess& sim, const Bytes& frame, std::size_t reply_size) {
    return time_us(2000, [&] {
        sim.send(frame);
        if (sim.receive(reply_size).size() != reply_size) std::abort();
    });
}

}  // namespace

int main() {
    std::printf("G of a 4-instruction routine, in-process: %.2f us (median of 20000)\n", tiny_go_us());
    TempFolder folder;
    SimProcess sim(folder.path());
    sim.open_port();
    Bytes block = to_bytes("S00202AF4,00000400#");
    block.resize(block.size() + 1024, 0x5A);
    std::printf("S of 1 KiB and its reply, through the pty: %.1f us (median of 2000)\n", round_trip_us(sim, block, 3));
    // BX LR at 0x00202000, then G and its two bytes.
    sim.send(std::string("S00202000,4#") + "\x1E\xFF\x2F\xE1");
    sim.receive(3);
    std::printf("G of a BX LR and its reply, through the pty: %.1f us (median of 2000)\n",
                round_trip_us(sim, to_bytes("G00202000#"), 2));
    return 0;
}
