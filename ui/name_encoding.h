// Names as job files hold them: today's editors save UTF-8, with or without
// a byte-order mark, older ones the ANSI code page.
#pragma once

#include "ui/dialog.h"

// The name after a UTF-8 byte-order mark, or the name itself.
const char* without_byte_order_mark(const char* name);

// How the echo should decode a name that no open took: as the operator's
// editor most likely wrote it.
NameEncoding likely_name_encoding(const char* name);
