#include "ui/name_encoding.h"

#include <cstring>

const char* without_byte_order_mark(const char* name) {
    return std::strncmp(name, "\xEF\xBB\xBF", 3) == 0 ? name + 3 : name;
}

TextKind text_kind(const char* text) {
    bool beyond_ascii = false;
    for (auto* byte = reinterpret_cast<const unsigned char*>(text); *byte;) {
        if (*byte < 0x80) {
            ++byte;
            continue;
        }
        beyond_ascii = true;
        // Lead byte: its sequence length and the smallest code point it may
        // carry, so that overlong forms count as invalid.
        int length;
        unsigned long code, smallest;
        if ((*byte & 0xE0) == 0xC0) length = 2, code = *byte & 0x1F, smallest = 0x80;
        else if ((*byte & 0xF0) == 0xE0) length = 3, code = *byte & 0x0F, smallest = 0x800;
        else if ((*byte & 0xF8) == 0xF0) length = 4, code = *byte & 0x07, smallest = 0x10000;
        else return TextKind::other;
        for (int i = 1; i < length; ++i) {
            if ((byte[i] & 0xC0) != 0x80) return TextKind::other;
            code = code << 6 | (byte[i] & 0x3F);
        }
        if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return TextKind::other;
        byte += length;
    }
    return beyond_ascii ? TextKind::utf8 : TextKind::ascii;
}

NameEncoding likely_name_encoding(const char* name) {
    const char* rest = without_byte_order_mark(name);
    return rest != name || text_kind(rest) == TextKind::utf8 ? NameEncoding::utf8 : NameEncoding::as_read;
}
