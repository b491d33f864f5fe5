#include "link/serial.h"

#include "link/deadline.h"
#include "link/serial_platform.h"
#include "link/trace.h"

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

const unsigned char greeting[3] = {0x80, 0x80, '#'};

// Port set-up and greeting on a port that has just opened; `name` names it
// in the trace.
PortSearch greet_open_port(const char* name) {
    platform_prepare_port();
    if (!platform_set_timeouts()) {
        trace_note("%s: time-outs not set: %s", name, platform_failure());
        return PortSearch::timeouts_not_set;
    }
    if (!platform_apply_settings()) {
        trace_note("%s: settings not applied: %s", name, platform_failure());
        return PortSearch::settings_not_applied;
    }
    if (port_write(greeting, sizeof greeting) != PortWrite::written) {
        trace_note("%s: greeting not sent", name);
        return PortSearch::greeting_not_sent;
    }
    unsigned char greeting_answer[2] = {};
    if (port_read(greeting_answer, sizeof greeting_answer) != PortRead::complete) {
        trace_note("%s: no complete answer to the greeting", name);
        return PortSearch::no_answer;
    }
    if (greeting_answer[0] != 0x0A || greeting_answer[1] != 0x0D) {
        trace_note("%s: answer %02X %02X is not line feed, carriage return", name, greeting_answer[0],
                   greeting_answer[1]);
        return PortSearch::wrong_answer;
    }
    return PortSearch::found;
}

// The device path of a port name as the user gave it.
std::string port_path_of(const char* name) {
    const int number = com_port_number(name);
    return number > 0 ? platform_port_path(number) : std::string(name);
}

}  // namespace

SearchResult search_device_port(const std::function<void(int number)>& port_opened, SearchExtent extent) {
    SearchResult result;
    // The first port that answers waits aside, greeted once, while the
    // others are tried.
    std::optional<ParkedPort> first_answer;
    for (int number = first_port_number; number <= last_port_number; ++number) {
        close_port();
        const PortOpen opened = platform_open_port(number);
        if (opened != PortOpen::opened) {
            trace_note("COM%d: not opened: %s", number, platform_failure());
            if (opened == PortOpen::busy || opened == PortOpen::denied)
                result.blocked.push_back({platform_port_name(), opened});
            result.outcome = PortSearch::not_opened;
            continue;
        }
        port_opened(number);
        const std::string name = "COM" + std::to_string(number);
        result.outcome = greet_open_port(name.c_str());
        if (result.outcome == PortSearch::found) {
            result.port_number = number;
            if (extent == SearchExtent::first_answer) return result;
            result.answered.push_back(number);
            if (!first_answer) {
                first_answer = platform_park_port();
                continue;
            }
        }
        close_port();
    }
    if (!first_answer) return result;
    result.outcome = PortSearch::found;
    result.port_number = result.answered.front();
    // One answer: that port is the device's, open and greeted.
    if (result.answered.size() == 1) platform_resume_port(*first_answer);
    else platform_close_parked(*first_answer);
    return result;
}

int com_port_number(const char* name) {
    if (std::strlen(name) < 4 || !std::strchr("Cc", name[0]) || !std::strchr("Oo", name[1]) ||
        !std::strchr("Mm", name[2]))
        return 0;
    // Windows numbers its ports far below this; the limit keeps the sum safe.
    constexpr int largest_number = 99999;
    int number = 0;
    for (const char* digit = name + 3; *digit; ++digit) {
        if (*digit < '0' || *digit > '9') return 0;
        number = number * 10 + (*digit - '0');
        if (number > largest_number) return 0;
    }
    return number;
}

NamedPortResult open_device_port(const char* name) {
    close_port();
    NamedPortResult result;
    const std::string path = port_path_of(name);
    result.open = platform_open_port_path(path.c_str());
    if (result.open != PortOpen::opened) {
        result.system_reason = platform_failure();
        trace_note("%s: not opened: %s", name, platform_failure());
        return result;
    }
    result.outcome = greet_open_port(name);
    if (result.outcome != PortSearch::found) close_port();
    return result;
}

bool device_port_present(const char* name) { return platform_port_present(port_path_of(name).c_str()); }

PortRead read_greeting_prompt() {
    unsigned char prompt = 0;
    return port_read(&prompt, 1);
}

PortWrite port_write(const void* source, std::uint32_t count) {
    if (!platform_port_open()) return PortWrite::no_port;
    const auto* bytes = static_cast<const unsigned char*>(source);
    std::uint32_t moved = 0;
    if (!platform_write_call(bytes, count, &moved)) {
        trace_note("write failed: %s", platform_failure());
        close_port();
        return PortWrite::failed;
    }
    trace_bytes("TX", bytes, moved);
    return PortWrite::written;
}

PortRead port_read(void* destination, std::uint32_t count) {
    if (!platform_port_open()) {
        trace_note("read with no port open");
        return PortRead::failed;
    }
    auto* position = static_cast<unsigned char*>(destination);
    int attempts_left = read_attempt_allowance;
    const Deadline budget = deadline_in(read_budget_ms);
    while (count > 0) {
        if (attempts_left == 0 && passed(budget)) break;
        if (attempts_left > 0) --attempts_left;
        std::uint32_t moved = 0;
        if (!platform_read_call(position, count, &moved)) {
            trace_note("read failed: %s", platform_failure());
            close_port();
            return PortRead::failed;
        }
        // A back end that claims more than it was asked for cannot be trusted
        // with the rest either.
        if (moved > count) {
            trace_note("read call reported %u byte(s) of %u", static_cast<unsigned>(moved),
                       static_cast<unsigned>(count));
            close_port();
            return PortRead::failed;
        }
        trace_bytes("RX", position, moved);
        position += moved;
        count -= moved;
    }
    if (count > 0) {
        trace_note("read timed out with %u byte(s) missing", static_cast<unsigned>(count));
        close_port();
        return PortRead::timed_out;
    }
    return PortRead::complete;
}

void close_port() {
    if (platform_port_open()) platform_close_port();
}

bool port_is_closed() { return !platform_port_open(); }
