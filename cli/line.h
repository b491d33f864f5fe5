// The production line: one device after another, each programmed as
// `write` does, with a result line and a CSV row per device.
#pragma once

#include "cli/commands.h"

// Prints its own results; returns the exit code of the first device that
// failed, or ok.
ExitCode run_line(const Session& session);
