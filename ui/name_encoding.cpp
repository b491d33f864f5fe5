#include "ui/name_encoding.h"

#include <cstring>

const char* without_byte_order_mark(const char* name) {
    return std::strncmp(name, "\xEF\xBB\xBF", 3) == 0 ? name + 3 : name;
}

NameEncoding likely_name_encoding(const char* name) {
    const char* rest = without_byte_order_mark(name);
    return rest != name || text_kind(rest) == TextKind::utf8 ? NameEncoding::utf8 : NameEncoding::as_read;
}
