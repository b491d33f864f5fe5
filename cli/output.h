// Where results and diagnostics go: the result on standard output (a text
// or one JSON line), diagnostics on standard error.
#pragma once

#include "cli/commands.h"

void report_result(const Session& session, const CommandResult& result);
// A diagnostic line on standard error, unless --quiet.
void note(const Session& session, const std::string& text);
