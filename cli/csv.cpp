#include "csv.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

std::string csv_field(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (char letter : field) {
        if (letter == '"')
            quoted += '"';
        quoted += letter;
    }
    return quoted + "\"";
}

std::filesystem::path utf8_path(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

}  // namespace

std::string csv_row(const std::vector<std::string>& fields) {
    std::string row;
    for (std::size_t index = 0; index < fields.size(); ++index)
        row += (index > 0 ? "," : "") + csv_field(fields[index]);
    return row + "\r\n";
}

bool append_csv_row(const std::string& path, const std::vector<std::string>& fields,
                    const std::vector<std::string>& header) {
    std::filesystem::path file = utf8_path(path);
    std::error_code failure;
    auto size = std::filesystem::file_size(file, failure);
    bool starts_file = failure || size == 0;
    std::string text = (starts_file && !header.empty() ? csv_row(header) : "") + csv_row(fields);
    // One write of the whole text, binary so that Windows keeps CR LF as it is.
    std::ofstream log(file, std::ios::binary | std::ios::app);
    log.write(text.data(), static_cast<std::streamsize>(text.size()));
    log.flush();
    return log.good();
}

std::vector<std::vector<std::string>> csv_rows(std::string_view text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false;
    bool row_started = false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char letter = text[at];
        if (quoted) {
            if (letter != '"') field += letter;
            else if (at + 1 < text.size() && text[at + 1] == '"') field += text[++at];
            else quoted = false;
            continue;
        }
        if (letter == '\r' && at + 1 < text.size() && text[at + 1] == '\n') continue;
        if (letter == '\n') {
            if (row_started) row.push_back(field), rows.push_back(row);
            row.clear(), field.clear(), row_started = false;
            continue;
        }
        row_started = true;
        if (letter == '"') quoted = true;
        else if (letter == ',') row.push_back(field), field.clear();
        else field += letter;
    }
    if (row_started) row.push_back(field), rows.push_back(row);
    return rows;
}
