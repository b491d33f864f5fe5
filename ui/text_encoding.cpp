#include "ui/text_encoding.h"

#include <array>
#include <cstddef>

namespace {

constexpr char32_t replacement = 0xFFFD;

// Windows-1251 from 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F in
// order. 0x98 is unassigned and decodes to U+FFFD, which no byte encodes.
constexpr char16_t cp1251_upper[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

// CP866 from 0x80 to 0xFF: the Russian letters around the DOS box-drawing
// characters, then the Ukrainian and Belarusian letters and a few signs.
constexpr char16_t cp866_upper[128] = {
    // 0x80-0x9F: А-Я
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C,
    0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429,
    0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    // 0xA0-0xAF: а-п
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C,
    0x043D, 0x043E, 0x043F,
    // 0xB0-0xDF: shades, box drawing and blocks
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D,
    0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554,
    0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553,
    0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    // 0xE0-0xEF: р-я
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C,
    0x044D, 0x044E, 0x044F,
    // 0xF0-0xFF: Ё ё Є є Ї ї Ў ў ° ∙ · √ № ¤ ■ NBSP
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116,
    0x00A4, 0x25A0, 0x00A0,
};

constexpr char32_t from_cp1251(unsigned char byte) {
    if (byte < 0x80) return byte;
    if (byte >= 0xC0) return 0x0410 + (byte - 0xC0);
    return cp1251_upper[byte - 0x80];
}

// The byte of `c` in a code page given by its upper half, or '?'.
template <std::size_t N>
constexpr char byte_in(const char16_t (&upper)[N], std::size_t first, char32_t c) {
    if (c < 0x80) return static_cast<char>(c);
    if (c == replacement) return '?';
    for (std::size_t i = 0; i < N; ++i)
        if (upper[i] == c) return static_cast<char>(first + i);
    return '?';
}

char to_cp1251(char32_t c) {
    if (c >= 0x0410 && c <= 0x044F) return static_cast<char>(0xC0 + (c - 0x0410));
    return byte_in(cp1251_upper, 0x80, c);
}

// Windows' CharToOemA falls back on look-alikes for some characters CP866
// lacks (dashes and quotes, say); here every one of them becomes '?', so the
// result is the same whatever Windows version would have converted it. The
// Russian letters, Ё and ё, № and ASCII come out as CharToOemA gives them.
constexpr std::array<char, 256> make_cp866_of_cp1251() {
    std::array<char, 256> table{};
    for (std::size_t byte = 0; byte < 256; ++byte)
        table[byte] = byte_in(cp866_upper, 0x80, from_cp1251(static_cast<unsigned char>(byte)));
    return table;
}
constexpr std::array<char, 256> cp866_of_cp1251 = make_cp866_of_cp1251();

void append_utf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
        return;
    }
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
}

// Decodes the character at `at` and moves past it; false, with `at` where it
// was, when the bytes there are no valid UTF-8. Overlong forms, surrogates
// and values beyond U+10FFFF are refused, since they let one text pass for
// another in a comparison of bytes.
bool decode_utf8(std::string_view text, std::size_t& at, char32_t& c) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length;
    char32_t smallest;
    if (lead < 0x80) length = 1, c = lead, smallest = 0;
    else if ((lead & 0xE0) == 0xC0) length = 2, c = lead & 0x1F, smallest = 0x80;
    else if ((lead & 0xF0) == 0xE0) length = 3, c = lead & 0x0F, smallest = 0x800;
    else if ((lead & 0xF8) == 0xF0) length = 4, c = lead & 0x07, smallest = 0x10000;
    else return false;
    if (text.size() - at < length) return false;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return false;
        c = c << 6 | (next & 0x3F);
    }
    if (c < smallest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    at += length;
    return true;
}

}  // namespace

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

TextKind text_kind(std::string_view text) {
    bool beyond_ascii = false;
    char32_t c;
    for (std::size_t at = 0; at < text.size();) {
        if (!decode_utf8(text, at, c)) return TextKind::other;
        beyond_ascii = beyond_ascii || c >= 0x80;
    }
    return beyond_ascii ? TextKind::utf8 : TextKind::ascii;
}

std::string utf8_from_cp1251(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char byte : text) append_utf8(out, from_cp1251(static_cast<unsigned char>(byte)));
    return out;
}

std::u16string utf16_from_cp1251(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (const char byte : text) out += static_cast<char16_t>(from_cp1251(static_cast<unsigned char>(byte)));
    return out;
}

std::string cp866_from_cp1251(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char byte : text) out += cp866_of_cp1251[static_cast<unsigned char>(byte)];
    return out;
}

bool utf16_from_utf8(std::string_view text, std::u16string& wide) {
    wide.clear();
    char32_t c;
    for (std::size_t at = 0; at < text.size();) {
        if (!decode_utf8(text, at, c)) {
            wide.clear();
            return false;
        }
        append_utf16(wide, c);
    }
    return true;
}

std::string utf8_from_utf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char32_t unit = text[at];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && at + 1 < text.size() && text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[++at] - 0xDC00));
        } else {
            append_utf8(out, unit >= 0xD800 && unit <= 0xDFFF ? replacement : unit);
        }
    }
    return out;
}

std::string cp1251_from_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char32_t c;
    for (std::size_t at = 0; at < text.size();) {
        if (decode_utf8(text, at, c)) {
            out += to_cp1251(c);
        } else {
            out += '?';
            ++at;
        }
    }
    return out;
}
