// The console form of the operator dialogue, for platforms without message
// boxes: a box is drawn as a text block (caption, icon kind, text, buttons)
// and a question is answered by typing one line.
#pragma once

#include <cstdio>
#include <string>

// The language of the dialogue's buttons and prompts; captions and texts
// are always the program's own.
enum class DialogueLanguage { english, russian };

// Russian when the first of LC_ALL, LC_MESSAGES and LANG that is set and not
// empty starts with "ru", as Windows labels the buttons in the system's
// language; English otherwise.
DialogueLanguage dialogue_language();

// Draws the box on `out` and returns the button chosen. A question reads
// lines from `in` until one says y/yes, n/no or (three-button question only)
// c/cancel, in any case, or in Russian also д/да, н/нет, о/отмена; end of
// input chooses Cancel, or No where there is no Cancel. An OK-only box waits
// for Enter only when `interactive`; otherwise the answer read is echoed so
// that a transcript shows it.
int console_message_box(std::FILE* in, std::FILE* out, bool interactive,
                        const char* caption, const char* text, unsigned style,
                        DialogueLanguage language = DialogueLanguage::english);

// Converts a Windows-1251 text to the encoding of the current locale's
// character type, UTF-8 when the locale names none (C or POSIX). Characters
// the console cannot show become '?'.
std::string to_console_encoding(const char* text);

// The other way: a line typed at the console, as Windows-1251.
std::string from_console_encoding(const std::string& text);
