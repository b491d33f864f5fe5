// The production line: every device connected at once, each programmed as
// `write` does by a worker process of its own, with a result and a CSV row
// per device.
#pragma once

#include "cli/commands.h"

// Prints its own results; returns the exit code of the first device that
// failed, or ok.
ExitCode run_line(const Session& session);
