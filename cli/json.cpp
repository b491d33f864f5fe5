#include "json.h"

#include "ui/text_encoding.h"

#include <charconv>
#include <cmath>
#include <system_error>

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

namespace {

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    bool members(std::map<std::string, std::string>& members) {
        if (!take('{')) return false;
        if (take('}')) return at_end();
        do {
            std::string key;
            std::string value;
            if (!string(key) || !take(':') || !value_text(value)) return false;
            members[key] = value;
        } while (take(','));
        return take('}') && at_end();
    }

private:
    void skip_blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
            ++at_;
    }
    bool take(char wanted) {
        skip_blanks();
        if (at_ >= text_.size() || text_[at_] != wanted) return false;
        ++at_;
        return true;
    }
    bool at_end() {
        skip_blanks();
        return at_ == text_.size();
    }

    bool hex4(std::uint32_t& code) {
        if (at_ + 4 > text_.size()) return false;
        const auto [end, error] = std::from_chars(text_.data() + at_, text_.data() + at_ + 4, code, 16);
        if (error != std::errc() || end != text_.data() + at_ + 4) return false;
        at_ += 4;
        return true;
    }

    // \uXXXX, a surrogate pair taken whole.
    bool unicode_escape(std::string& text) {
        std::uint32_t code = 0;
        if (!hex4(code)) return false;
        if (code >= 0xD800 && code < 0xDC00 && text_.substr(at_, 2) == "\\u") {
            at_ += 2;
            std::uint32_t low = 0;
            if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        append_utf8(text, code);
        return true;
    }

    bool escape(std::string& text) {
        if (at_ >= text_.size()) return false;
        const char letter = text_[at_++];
        switch (letter) {
        case '"': case '\\': case '/': text += letter; return true;
        case 'b': text += '\b'; return true;
        case 'f': text += '\f'; return true;
        case 'n': text += '\n'; return true;
        case 'r': text += '\r'; return true;
        case 't': text += '\t'; return true;
        case 'u': return unicode_escape(text);
        default: return false;
        }
    }

    bool string(std::string& text) {
        if (!take('"')) return false;
        while (at_ < text_.size()) {
            const char letter = text_[at_++];
            if (letter == '"') return true;
            if (letter != '\\') text += letter;
            else if (!escape(text)) return false;
        }
        return false;
    }

    // Up to the comma or brace that ends it, nested brackets and strings
    // passed over whole.
    bool value_text(std::string& value) {
        skip_blanks();
        if (at_ < text_.size() && text_[at_] == '"') return string(value);
        const std::size_t start = at_;
        int depth = 0;
        std::string ignored;
        while (at_ < text_.size()) {
            const char letter = text_[at_];
            if (letter == '"') {
                if (!string(ignored)) return false;
                continue;
            }
            if ((letter == ',' || letter == '}' || letter == ']') && depth == 0) break;
            if (letter == '{' || letter == '[') ++depth;
            if (letter == '}' || letter == ']') --depth;
            ++at_;
        }
        value = std::string(text_.substr(start, at_ - start));
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
        return depth == 0 && !value.empty();
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

bool read_json_members(std::string_view text, std::map<std::string, std::string>& members) {
    members.clear();
    return JsonReader(text).members(members);
}
