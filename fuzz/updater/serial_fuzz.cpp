// The serial platform for the fuzz target: the device's bytes come from the
// fuzz input, and the port's clock moves only when a read call waits out its
// time-out, so a run takes microseconds. What the updater sends is parsed
// for the check that every block it writes lies in SRAM.
#include "fuzz/updater/hostile_run.h"
#include "link/serial.h"
#include "link/serial_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

constexpr std::uint32_t sram_start = 0x00200000;
constexpr std::uint32_t sram_end = 0x00208000;

// An updater that keeps calling the port without using up the device's
// bytes is stuck: a run makes a few calls per byte at most.
constexpr std::uint64_t calls_per_byte = 8;
constexpr std::uint64_t calls_without_bytes = 2000;

HostileRun run;
std::size_t next_byte = 0;
std::uint64_t calls = 0;
std::uint64_t call_limit = 0;
std::uint32_t clock_ms = 0;
bool port_open = false;
const char* failure = "";

// The frames the updater writes: text up to '#'; an S frame's data follows.
std::string frame;
std::uint32_t data_left = 0;

void check_block(const std::string& text) {
    unsigned address = 0;
    unsigned length = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "S%8X,%8X%c", &address, &length, &end) != 2)
        hostile_run_failed("an S frame that does not parse, length field", text.size());
    if (address < sram_start || address > sram_end || length > sram_end - address)
        hostile_run_failed("a block sent outside SRAM, at address", address);
    data_left = length;
}

void take_outgoing(const unsigned char* bytes, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        if (data_left > 0) {
            const std::uint32_t skipped = std::min(data_left, count - i);
            data_left -= skipped;
            i += skipped - 1;
        } else if (bytes[i] == '#') {
            if (!frame.empty() && frame[0] == 'S') check_block(frame);
            frame.clear();
        } else {
            frame.push_back(static_cast<char>(bytes[i]));
        }
    }
}

// Counts the call; false when it is the one at which the port fails.
bool call_works() {
    if (++calls > call_limit) hostile_run_failed("no end in sight: platform calls", calls);
    if (calls != run.failing_call) return true;
    failure = "the port failed";
    return false;
}

}  // namespace

void begin_serial(const HostileRun& hostile) {
    run = hostile;
    next_byte = 0;
    calls = 0;
    call_limit = calls_without_bytes + calls_per_byte * hostile.device_byte_count;
    clock_ms = 0;
    port_open = false;
    failure = "";
}

PortOpen platform_open_port(int number) {
    if (number < run.device_port || !call_works()) {
        failure = "no such port";
        // Ports held by others below the device's, so that their lines are run too.
        return number % 2 ? PortOpen::busy : PortOpen::failed;
    }
    port_open = true;
    frame.clear();
    data_left = 0;
    return PortOpen::opened;
}

// The updater only searches; ports by name are zelmiran-flash's.
PortOpen platform_open_port_path(const char*) {
    failure = "no such port";
    return PortOpen::failed;
}

std::string platform_port_path(int number) { return "COM" + std::to_string(number); }

bool platform_port_present(const char*) { return false; }

const char* platform_port_name() { return "COM"; }

void platform_prepare_port() {}

bool platform_set_timeouts() { return call_works(); }

bool platform_apply_settings() { return call_works(); }

bool platform_read_call(unsigned char* destination, std::uint32_t count, std::uint32_t* feedback) {
    *feedback = 0;
    if (!port_open || !call_works()) return false;
    const std::size_t given = std::min<std::size_t>(count, run.device_byte_count - next_byte);
    std::copy_n(run.device_bytes + next_byte, given, destination);
    next_byte += given;
    *feedback = static_cast<std::uint32_t>(given);
    if (given < count) clock_ms += link_timeout_ms;
    return true;
}

bool platform_write_call(const unsigned char* source, std::uint32_t count, std::uint32_t* feedback) {
    *feedback = 0;
    if (!port_open || !call_works()) return false;
    take_outgoing(source, count);
    *feedback = count;
    return true;
}

void platform_close_port() { port_open = false; }

// The updater's search stops at the first answer and never parks a port.
ParkedPort platform_park_port() {
    port_open = false;
    return {1, "COM"};
}

void platform_resume_port(const ParkedPort&) { port_open = true; }

void platform_close_parked(const ParkedPort&) {}

bool platform_port_open() { return port_open; }

std::uint32_t platform_tick_ms() { return clock_ms; }

const char* platform_failure() { return failure; }

// The updater's pauses between status polls pass on this clock too.
extern "C" int nanosleep(const timespec* duration, timespec* remaining) {
    clock_ms += static_cast<std::uint32_t>(duration->tv_sec * 1000 + duration->tv_nsec / 1000000);
    if (remaining) *remaining = {};
    return 0;
}
