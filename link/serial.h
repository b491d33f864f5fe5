// The serial transport: the one connection to the device's boot monitor.
//
// All operations work on one process-wide port handle. Every failure on the
// port closes it, so at any moment either a working port is open or none is;
// a port closed by a failure is not reopened.
//
// Read contract: port_read(destination, count) delivers exactly `count`
// bytes or fails. It makes read calls for the remaining bytes; one call
// returns as soon as all of them have arrived, or link_timeout_ms after it
// began with what arrived by then (possibly nothing). The first
// read_attempt_allowance calls are always made; after them the read goes on
// only while less than read_budget_ms has passed since the read began.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The port's read and write time-out: a monitor reply starts well within one
// USB full-speed round trip and its few bytes follow at once.
constexpr std::uint32_t link_timeout_ms = 50;
// Calls a read always makes, so that a reply trickling in is not cut short.
constexpr int read_attempt_allowance = 3;
// How long a read goes on after those calls, counted from its start.
constexpr std::uint32_t read_budget_ms = link_timeout_ms / 3;

// The first and last port numbers tried by the search.
constexpr int first_port_number = 1;
constexpr int last_port_number = 32;

// The search's outcome on the last port it tried. no_answer: no complete
// answer to the greeting; wrong_answer: not line feed, carriage return.
enum class [[nodiscard]] PortSearch : int {
    found = 0, not_opened = 1, timeouts_not_set = 2, settings_not_applied = 3, greeting_not_sent = 4,
    no_answer = 5, wrong_answer = 6
};
// Written possibly only in part, when the time-out ended the write; a failed
// write has closed the port.
enum class [[nodiscard]] PortWrite : int { written = 0, no_port = 1, failed = 2 };
// failed: a read call failed, or no port was open; timed_out: not all bytes
// arrived in time.
enum class [[nodiscard]] PortRead : int { complete = 0, failed = 1, timed_out = 2 };

// How an open of a port ended. missing: no such port; busy: another program
// holds it; denied: the user may not use it; failed: any other reason.
enum class [[nodiscard]] PortOpen { opened, missing, failed, busy, denied };

// A port that exists but could not be used, and why (busy or denied).
struct BlockedPort {
    std::string name;  // "COM3", or its path
    PortOpen reason;
};

struct [[nodiscard]] SearchResult {
    PortSearch outcome = PortSearch::not_opened;  // on the last port tried
    int port_number = 0;                          // of the port that answered; 0 when none
    std::vector<int> answered;                    // every_port: the numbers of all that answered
    std::vector<BlockedPort> blocked;
};

// first_answer: a port that answers stays open and ends the search;
// every_port: the search goes on to COM32, noting each port that answers;
// when only one did, it stays open, greeted once; otherwise none does.
enum class SearchExtent { first_answer, every_port };

// Tries COM1 to COM32 in turn and greets the boot monitor on each port that
// opens, after telling `port_opened` its number.
SearchResult search_device_port(const std::function<void(int number)>& port_opened,
                                SearchExtent extent = SearchExtent::first_answer);

// The port number of a name COMn (any n from 1, any case), or 0 for any
// other name.
int com_port_number(const char* name);
struct [[nodiscard]] NamedPortResult {
    PortSearch outcome = PortSearch::not_opened;
    PortOpen open = PortOpen::failed;  // how the open ended
    std::string system_reason;         // the failed call and the system's words, when it did not open
};
// Opens the port `name`, COMn or a device path as it is given, and greets
// the boot monitor on it as the search does.
NamedPortResult open_device_port(const char* name);
// Whether the port `name` is still there, busy or not: false once its
// device is unplugged or switched off.
bool device_port_present(const char* name);

// The rest of the monitor's answer to the greeting: its prompt, not examined.
PortRead read_greeting_prompt();

PortWrite port_write(const void* source, std::uint32_t count);

// Reads exactly `count` bytes (see the read contract above). Failures close
// the port.
PortRead port_read(void* destination, std::uint32_t count);

void close_port();
bool port_is_closed();

// Closes the port when it goes, on every path out of the scope that holds it.
class PortCloser {
public:
    PortCloser() = default;
    ~PortCloser() { close_port(); }
    PortCloser(const PortCloser&) = delete;
    PortCloser& operator=(const PortCloser&) = delete;
};
