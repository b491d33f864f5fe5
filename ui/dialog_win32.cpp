#include "ui/dialog.h"

#include "ui/name_encoding.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <windows.h>

namespace {

// Texts go to a console as characters, whatever its code pages; a file or
// pipe gets what a Russian Windows has always written there.
bool output_is_console() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

std::wstring wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// A name in the PC's ANSI code page, as the narrow open took it.
std::wstring widened_ansi(const char* text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) return L"";
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, result.data(), length);
    result.pop_back();
    return result;
}

void write_console(const std::wstring& text) {
    // What the C runtime holds must come first.
    std::fflush(stdout);
    DWORD written = 0;
    WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
                  nullptr);
}

}  // namespace

int show_message_box(const char* caption, const char* text, unsigned style) {
    std::fflush(stdout);
    return MessageBoxW(nullptr, wide(utf16_from_cp1251(text)).c_str(), wide(utf16_from_cp1251(caption)).c_str(), style);
}

void oem_print(const char* text) {
    if (output_is_console()) write_console(wide(utf16_from_cp1251(text)));
    else std::fputs(cp866_from_cp1251(text).c_str(), stdout);
}

void print_plain(const char* text) { std::fputs(text, stdout); }

void print_file_name(const char* raw, NameEncoding encoding) {
    if (!output_is_console()) {
        print_plain(raw);
        return;
    }
    std::u16string name;
    switch (encoding) {
    case NameEncoding::utf8:
        if (!utf16_from_utf8(without_byte_order_mark(raw), name)) return write_console(widened_ansi(raw));
        return write_console(wide(name));
    case NameEncoding::cp1251: return write_console(wide(utf16_from_cp1251(raw)));
    case NameEncoding::as_read: return write_console(widened_ansi(raw));
    }
}
