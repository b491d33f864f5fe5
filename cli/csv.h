// The production line's log: one CSV row per device (RFC 4180).
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The fields as one row ending in CR LF; a field with a comma, a quote, CR or
// LF is quoted, its quotes doubled.
[[nodiscard]] std::string csv_row(const std::vector<std::string>& fields);

// Appends the row to the file at `path` (UTF-8), creating it; a file that is
// new or empty gets the `header` row first, when one is given. False when the
// row could not be written whole.
[[nodiscard]] bool append_csv_row(const std::string& path, const std::vector<std::string>& fields,
                                  const std::vector<std::string>& header = {});

// The rows of a CSV text: quoted fields may hold commas, doubled quotes and
// line breaks; a row ends at CR LF or LF, and an empty line is no row.
[[nodiscard]] std::vector<std::vector<std::string>> csv_rows(std::string_view text);
