#include "link/serial.h"

#include "link/serial_platform.h"
#include "link/trace.h"
#include "ui/messages.h"

#include <cassert>
#include <cstdio>

namespace {

const unsigned char greeting[3] = {0x80, 0x80, '#'};
unsigned char sam_ba_test_recive[2];

// Port set-up and greeting on a port that has just opened; the search's code.
int greet_open_port(int number) {
    platform_prepare_port();
    if (!platform_set_timeouts()) {
        trace_note("COM%d: time-outs not set: %s", number, platform_failure());
        return 2;
    }
    if (!platform_apply_settings()) {
        trace_note("COM%d: settings not applied: %s", number, platform_failure());
        return 3;
    }
    if (port_write(greeting, sizeof greeting) != 0) {
        trace_note("COM%d: greeting not sent", number);
        return 4;
    }
    if (port_read(sam_ba_test_recive, sizeof sam_ba_test_recive) != 0) {
        trace_note("COM%d: no complete answer to the greeting", number);
        return 5;
    }
    if (sam_ba_test_recive[0] != 0x0A || sam_ba_test_recive[1] != 0x0D) {
        trace_note("COM%d: answer %02X %02X is not line feed, carriage return", number,
                   sam_ba_test_recive[0], sam_ba_test_recive[1]);
        return 6;
    }
    return 0;
}

}  // namespace

int find_device_port() {
    int code = 1;
    for (int number = first_port_number; number <= last_port_number; ++number) {
        close_port();
        if (!platform_open_port(number)) {
            trace_note("COM%d: not opened: %s", number, platform_failure());
            code = 1;
            continue;
        }
        std::printf(".%d.", number);
        code = greet_open_port(number);
        if (code == 0) {
            std::fputs(" \n", stdout);
            return 0;
        }
        close_port();
    }
    std::fputs(" \n", stdout);
    return code;
}

int port_write(const void* source, std::uint32_t count) {
    if (!platform_port_open()) return 1;
    const auto* bytes = static_cast<const unsigned char*>(source);
    std::uint32_t feedback = 0;
    if (!platform_write_call(bytes, count, &feedback)) {
        trace_note("write failed: %s", platform_failure());
        close_port();
        return 2;
    }
    trace_bytes("TX", bytes, feedback);
    return 0;
}

int port_read(void* destination, std::uint32_t numb) {
    if (!platform_port_open()) box_error_4();
    auto* position = static_cast<unsigned char*>(destination);
    int attempts_left = read_attempt_allowance;
    const std::uint32_t start = platform_tick_ms();
    while (numb > 0) {
        if (attempts_left == 0 && platform_tick_ms() - start >= read_budget_ms) break;
        if (attempts_left > 0) --attempts_left;
        std::uint32_t feedback = 0;
        if (!platform_read_call(position, numb, &feedback)) {
            trace_note("read failed: %s", platform_failure());
            close_port();
            return 1;
        }
        assert(feedback <= numb);
        trace_bytes("RX", position, feedback);
        position += feedback;
        numb -= feedback;
    }
    if (numb > 0) {
        trace_note("read timed out with %u byte(s) missing", static_cast<unsigned>(numb));
        close_port();
        return 2;
    }
    return 0;
}

void close_port() {
    if (platform_port_open()) platform_close_port();
}

bool port_is_closed() { return !platform_port_open(); }
