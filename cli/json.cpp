#include "json.h"

#include <charconv>
#include <cmath>

namespace {

struct Utf8Step {
    bool valid;
    std::size_t length;  // of the sequence, or of the invalid part replaced by one U+FFFD
};

// The sequence at `at`; an invalid one is cut at its first wrong byte, which
// gives one replacement per maximal invalid part, as Unicode recommends.
Utf8Step utf8_step(std::string_view text, std::size_t at) {
    auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return {true, 1};
    std::size_t length = 0;
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        second_low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        second_high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        second_low = lead == 0xF0 ? 0x90 : 0x80;
        second_high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return {false, 1};
    }
    for (std::size_t index = 1; index < length; ++index) {
        if (at + index >= text.size())
            return {false, index};
        auto byte = static_cast<unsigned char>(text[at + index]);
        unsigned char low = index == 1 ? second_low : 0x80;
        unsigned char high = index == 1 ? second_high : 0xBF;
        if (byte < low || byte > high)
            return {false, index};
    }
    return {true, length};
}

}  // namespace

std::string json_quoted(std::string_view text) {
    static constexpr char hex_digits[] = "0123456789ABCDEF";
    std::string quoted = "\"";
    for (std::size_t at = 0; at < text.size();) {
        Utf8Step step = utf8_step(text, at);
        auto byte = static_cast<unsigned char>(text[at]);
        if (!step.valid)
            quoted += "\xEF\xBF\xBD";
        else if (byte == '"' || byte == '\\')
            quoted += {'\\', static_cast<char>(byte)};
        else if (byte < 0x20)
            quoted += {'\\', 'u', '0', '0', hex_digits[byte >> 4], hex_digits[byte & 0xF]};
        else
            quoted.append(text.substr(at, step.length));
        at += step.length;
    }
    return quoted + "\"";
}

void JsonObject::add_key(std::string_view key) {
    if (!members_.empty())
        members_ += ',';
    members_ += json_quoted(key);
    members_ += ':';
}

JsonObject& JsonObject::add_string(std::string_view key, std::string_view value) {
    add_key(key);
    members_ += json_quoted(value);
    return *this;
}

JsonObject& JsonObject::add_integer(std::string_view key, std::int64_t value) {
    add_key(key);
    members_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::add_bool(std::string_view key, bool value) {
    add_key(key);
    members_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::add_seconds(std::string_view key, double seconds) {
    add_key(key);
    if (!std::isfinite(seconds)) {
        members_ += "null";
        return *this;
    }
    // to_chars, unlike printf, ignores the locale's decimal comma.
    char digits[400];
    auto written = std::to_chars(digits, digits + sizeof digits, seconds, std::chars_format::fixed, 3);
    members_.append(digits, written.ptr);
    return *this;
}

JsonObject& JsonObject::add_integers(std::string_view key, const std::vector<std::int64_t>& values) {
    add_key(key);
    members_ += '[';
    for (std::size_t index = 0; index < values.size(); ++index)
        members_ += (index > 0 ? "," : "") + std::to_string(values[index]);
    members_ += ']';
    return *this;
}

JsonObject& JsonObject::add_objects(std::string_view key, const std::vector<JsonObject>& values) {
    add_key(key);
    members_ += '[';
    for (std::size_t index = 0; index < values.size(); ++index) members_ += (index > 0 ? "," : "") + values[index].text();
    members_ += ']';
    return *this;
}

JsonObject& JsonObject::add_object(std::string_view key, const JsonObject& value) {
    add_key(key);
    members_ += value.text();
    return *this;
}

JsonObject& JsonObject::add_string_rows(std::string_view key, const std::vector<std::vector<std::string>>& rows) {
    add_key(key);
    members_ += '[';
    for (std::size_t row = 0; row < rows.size(); ++row) {
        members_ += row > 0 ? ",[" : "[";
        for (std::size_t index = 0; index < rows[row].size(); ++index)
            members_ += (index > 0 ? "," : "") + json_quoted(rows[row][index]);
        members_ += ']';
    }
    members_ += ']';
    return *this;
}

std::string JsonObject::text() const { return "{" + members_ + "}"; }
