// zelmiran-sim's command line.
#pragma once

#include "sim/device.h"
#include "sim/server.h"

#include <string>
#include <vector>

struct CommandLine {
    sim::DeviceOptions device;
    sim::ServeOptions serve;
    bool help = false;
};

// The arguments after the program name. Throws std::invalid_argument with a
// message for the user when they make no sense.
CommandLine parse_command_line(const std::vector<std::string>& arguments);

extern const char* const usage_text;
