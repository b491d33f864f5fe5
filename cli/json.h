// One JSON object on one line, for zelmiran-flash's --json results.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Keys keep the order they are added in; a key is not checked for repeats.
class JsonObject {
public:
    // UTF-8 is passed through; bytes that are not UTF-8 become U+FFFD, so the
    // line is always valid JSON.
    JsonObject& add_string(std::string_view key, std::string_view value);
    JsonObject& add_integer(std::string_view key, std::int64_t value);
    JsonObject& add_bool(std::string_view key, bool value);
    // Millisecond precision; not-a-number and infinities become null.
    JsonObject& add_seconds(std::string_view key, double seconds);
    JsonObject& add_integers(std::string_view key, const std::vector<std::int64_t>& values);
    JsonObject& add_object(std::string_view key, const JsonObject& value);
    JsonObject& add_objects(std::string_view key, const std::vector<JsonObject>& values);
    // An array of arrays of strings, such as [["a","b"],["c","d"]].
    JsonObject& add_string_rows(std::string_view key, const std::vector<std::vector<std::string>>& rows);

    // The object, without a line break.
    [[nodiscard]] std::string text() const;

private:
    void add_key(std::string_view key);
    std::string members_;
};

// `text` as a JSON string literal, quotes included.
[[nodiscard]] std::string json_quoted(std::string_view text);

// The top-level members of one JSON object, such as a line a worker of the
// production line writes: strings decoded to UTF-8, any other value (number,
// true, false, null, object, array) as its text. False when `text` is not
// one object.
[[nodiscard]] bool read_json_members(std::string_view text, std::map<std::string, std::string>& members);
