#include "cli/device.h"

DeviceConnection::DeviceConnection(const std::string& port_name)
    : port_(port_name.empty() ? find_device([](int) {}) : open_device(port_name)) {
    if (port_.outcome.ok()) controller_ = check_controller();
}

const Outcome& DeviceConnection::failure() const { return port_.outcome.ok() ? controller_.outcome : port_.outcome; }
