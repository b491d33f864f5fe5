// zelmiran-flash's words and exit codes for what the device steps return.
#pragma once

#include "cli/device.h"
#include "cli/exit_code.h"

#include <string>

// The step that failed decides: 4 the port, 5 the monitor or the controller,
// 7 the boot bit, 11 the programming run.
ExitCode exit_code_of(const Outcome& outcome);

// Why the connection failed, naming the port; English, or Russian.
std::string connection_failure_words(const DeviceConnection& connection, bool russian);
// What failed in a step after the connection, and where.
std::string step_failure_words(const Outcome& outcome, bool russian);
