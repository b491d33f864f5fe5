// The device as zelmiran-flash reaches it: the port (named, or found by the
// search), the greeting and the controller check. The connection owns the
// port: it is closed when the connection goes, on every path.
#pragma once

#include "device/connection.h"

#include <cstdint>
#include <optional>
#include <string>

// Without a port name: only_device refuses to choose among several devices
// that answer; first_device takes the first (the production line takes
// each as it comes).
enum class PortChoice { only_device, first_device };

class DeviceConnection {
public:
    // Opens `port_name` (empty: searches COM1 to COM32), greets the monitor
    // and checks the controller.
    explicit DeviceConnection(const std::string& port_name, PortChoice choice = PortChoice::only_device);
    DeviceConnection(const DeviceConnection&) = delete;
    DeviceConnection& operator=(const DeviceConnection&) = delete;

    bool ok() const { return failure().ok(); }
    // The port's or the controller's failure; ok when the device is in hand.
    const Outcome& failure() const;
    const std::string& port() const { return port_.port; }
    const PortOutcome& port_outcome() const { return port_; }
    std::optional<std::uint32_t> chip_id() const { return controller_.chip_id; }

private:
    PortCloser closer_;
    PortOutcome port_;
    ControllerOutcome controller_;
};
