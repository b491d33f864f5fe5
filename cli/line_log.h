// The production line's CSV log: one row per device, written and flushed
// as the device ends. Only the line process writes it, so rows of devices
// that end at once never mix.
#pragma once

#include <string>
#include <vector>

// The columns of a new log. A log begun with the first eight alone keeps
// its header, and its new rows carry the last three after them.
const std::vector<std::string>& line_log_header();

// The highest device number in the log, so that a new run goes on from it;
// 0 for no log or no rows.
unsigned highest_logged_number(const std::string& path);

// One per run of the line: its start in UTC and its process id.
std::string line_run_id();

// Now, in UTC, as the log writes it: 2026-01-31T12:00:00Z.
std::string utc_now();
