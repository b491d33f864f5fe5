// Reaching the device's boot monitor: the port search or a port given by
// name, the greeting, and the controller check.
#pragma once

#include "device/outcome.h"
#include "link/serial.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct [[nodiscard]] PortOutcome {
    Outcome outcome;                   // port_search or port_open
    std::string port;                  // "COMn" or the name given; empty when no port answered
    std::vector<BlockedPort> blocked;  // the search: ports that exist but could not be used
    std::vector<std::string> answered; // several_devices: the ports that answered
    std::string system_reason;         // a named port that did not open: the failed call and the system's words
};

// Searches COM1 to COM32, telling `port_opened` each port that opens; the
// port that answered stays open.
PortOutcome find_device(const std::function<void(int number)>& port_opened);
// The same, but only when exactly one port answers: with several devices
// connected, none is taken (several_devices).
PortOutcome find_only_device();
// Opens the port `name` (COMn or a device path) and greets the monitor.
PortOutcome open_device(const std::string& name);

// One port of COM1 to COM32 as the survey found it.
struct PortReport {
    std::string port;                      // "COMn"
    PortOpen open = PortOpen::opened;      // busy or denied: it was not touched
    std::optional<std::uint32_t> chip_id;  // read when a monitor answered
    bool controller_ok = false;
};

// Every port that exists and is not ours to use, and every port whose
// device answered; ports another program holds are never written to.
std::vector<PortReport> survey_ports();

struct [[nodiscard]] ControllerOutcome {
    Outcome outcome;  // controller_check
    std::optional<std::uint32_t> chip_id;  // once read, whether it is the right chip or not
};

// Reads the rest of the monitor's answer to the greeting and the chip
// identification register, and checks that the chip is an AT91SAM7SE512.
ControllerOutcome check_controller();
