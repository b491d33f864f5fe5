// The console form of the operator dialogue, for platforms without message
// boxes: a box is drawn as a text block (caption, icon kind, text, buttons)
// and a question is answered by typing one line.
#pragma once

#include <cstdio>
#include <string>

// Draws the box on `out` and returns the button chosen. A question reads
// lines from `in` until one says y/yes, n/no or (three-button question only)
// c/cancel, in any case; end of input chooses Cancel, or No where there is no
// Cancel. An OK-only box waits for Enter only when `interactive`; otherwise
// the answer read is echoed so that a transcript shows it.
int console_message_box(std::FILE* in, std::FILE* out, bool interactive,
                        const char* caption, const char* text, unsigned style);

// Converts a Windows-1251 text to the encoding of the current locale's
// character type, UTF-8 when the locale names none (C or POSIX). Characters
// the console cannot show become '?'.
std::string to_console_encoding(const char* text);
