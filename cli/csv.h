// The production line's log: one CSV row per device (RFC 4180).
#pragma once

#include <string>
#include <vector>

// The fields as one row ending in CR LF; a field with a comma, a quote, CR or
// LF is quoted, its quotes doubled.
[[nodiscard]] std::string csv_row(const std::vector<std::string>& fields);

// Appends the row to the file at `path` (UTF-8), creating it; a file that is
// new or empty gets the `header` row first, when one is given. False when the
// row could not be written whole.
[[nodiscard]] bool append_csv_row(const std::string& path, const std::vector<std::string>& fields,
                                  const std::vector<std::string>& header = {});
