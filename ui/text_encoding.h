// The one place where texts change encoding. The operator's texts and the
// job files of older editors are Windows-1251; a Russian Windows writes
// CP866 to files and pipes; today's editors and terminals use UTF-8; Windows
// itself speaks UTF-16. The tables are the program's own, so the result
// never depends on the code pages a PC has set.
#pragma once

#include <string>
#include <string_view>

// How a name from a job file or a command line is taken to open a file:
// as_read, its bytes as they are (on Windows in the ANSI code page); utf8;
// cp1251, the operators' historical encoding whatever the PC's code pages.
enum class NameEncoding { as_read, utf8, cp1251 };

// ascii: nothing beyond ASCII; utf8: valid UTF-8 with at least one character
// beyond ASCII; other: neither (a Windows-1251 name, say).
enum class [[nodiscard]] TextKind { ascii, utf8, other };
TextKind text_kind(std::string_view text);

std::string utf8_from_cp1251(std::string_view text);
std::u16string utf16_from_cp1251(std::string_view text);
// A character CP866 lacks becomes '?'.
std::string cp866_from_cp1251(std::string_view text);

// False when `text` is not valid UTF-8 (overlong forms, surrogates, beyond
// U+10FFFF, cut-off sequences); `wide` is then left empty.
[[nodiscard]] bool utf16_from_utf8(std::string_view text, std::u16string& wide);
// An unpaired surrogate becomes U+FFFD.
std::string utf8_from_utf16(std::u16string_view text);
// Appends one code point (up to U+10FFFF) in UTF-8.
void append_utf8(std::string& out, char32_t c);
// A character Windows-1251 lacks, or a byte that is no valid UTF-8, becomes '?'.
std::string cp1251_from_utf8(std::string_view text);
