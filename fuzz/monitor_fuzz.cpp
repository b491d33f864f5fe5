// The virtual device's boot monitor fed arbitrary bytes from the host.
//
// Input: chunks of host bytes, each after a header byte whose low six bits
// are the chunk's length less one and whose top two bits pick the pause
// before it: none, 1 ms, just within the monitor's patience, or its whole
// patience.
//
// Beside the sanitizers and the bus's range checks: nothing is sent once the
// device has hung, and after the input and a pause as long as the monitor's
// patience a greeting is answered with the prompt, unless code started with
// G hung the device for good or a reset started the firmware.
#include "sim/device.h"
#include "sim/monitor.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = sim::Monitor::Clock;

constexpr Clock::duration pauses[4] = {0ms, 1ms, sim::Monitor::patience - 1ms, sim::Monitor::patience};

// Random code started with G must hang quickly, not after millions of
// instructions.
constexpr std::uint64_t instruction_budget = 20'000;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "monitor fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::DeviceOptions options;
    options.instruction_budget = instruction_budget;
    sim::Device device(options);

    bool hung = false;
    bool probing = false;
    std::vector<std::vector<std::uint8_t>> probe_replies;
    sim::Monitor monitor(device, [&](const sim::Reply& reply) {
        if (hung) fail("a reply after the device hung");
        hung = reply.hung;
        if (probing) probe_replies.push_back(reply.bytes);
    });

    Clock::time_point now{};
    for (std::size_t at = 0; at < size;) {
        const std::uint8_t header = data[at++];
        now += pauses[header >> 6];
        const std::size_t length = std::min<std::size_t>((header & 0x3F) + 1u, size - at);
        monitor.receive(data + at, length, now);
        at += length;
    }

    now += sim::Monitor::patience;
    monitor.expire(now);
    if (monitor.deadline()) fail("a partial command outlived the monitor's patience");
    probing = true;
    const std::uint8_t greeting[] = {0x80, 0x80, '#'};
    monitor.receive(greeting, sizeof greeting, now);
    const std::vector<std::vector<std::uint8_t>> prompt = {{'\n', '\r', '>'}};
    if (!hung && !monitor.gone() && probe_replies != prompt) fail("the greeting was not answered with the prompt alone");
    return 0;
}
