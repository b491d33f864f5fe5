#include "cli/line_log.h"

#include "cli/csv.h"
#include "cli/platform.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iterator>

namespace {

std::string utc_time(const char* pattern) {
    const std::time_t now = std::time(nullptr);
    char text[32] = "";
    std::strftime(text, sizeof text, pattern, std::gmtime(&now));
    return text;
}

// A whole number and nothing else; 0 otherwise.
unsigned number_in(const std::string& field) {
    if (field.empty() || field.size() > 9 || field.find_first_not_of("0123456789") != std::string::npos) return 0;
    return static_cast<unsigned>(std::stoul(field));
}

}  // namespace

const std::vector<std::string>& line_log_header() {
    static const std::vector<std::string> header = {"time_utc", "number",    "port",   "chip_id",
                                                    "image_sha256", "exit_code", "seconds", "detail",
                                                    "result",   "station",   "run_id"};
    return header;
}

unsigned highest_logged_number(const std::string& path) {
    std::ifstream file(utf8_path(path), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto rows = csv_rows(text);
    if (rows.empty()) return 0;
    // The header names the column; a log without one has it second.
    const auto named = std::find(rows.front().begin(), rows.front().end(), "number");
    const std::size_t column = named != rows.front().end() ? static_cast<std::size_t>(named - rows.front().begin()) : 1;
    unsigned highest = 0;
    for (const auto& row : rows)
        if (column < row.size()) highest = std::max(highest, number_in(row[column]));
    return highest;
}

std::string line_run_id() { return utc_time("%Y%m%dT%H%M%SZ") + "-" + std::to_string(process_id()); }

std::string utc_now() { return utc_time("%Y-%m-%dT%H:%M:%SZ"); }
