#include "cli/device.h"

namespace {

PortOutcome reach_port(const std::string& port_name, PortChoice choice) {
    if (!port_name.empty()) return open_device(port_name);
    return choice == PortChoice::only_device ? find_only_device() : find_device([](int) {});
}

}  // namespace

DeviceConnection::DeviceConnection(const std::string& port_name, PortChoice choice)
    : port_(reach_port(port_name, choice)) {
    if (port_.outcome.ok()) controller_ = check_controller();
}

const Outcome& DeviceConnection::failure() const { return port_.outcome.ok() ? controller_.outcome : port_.outcome; }
