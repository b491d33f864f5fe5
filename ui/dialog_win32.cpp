#include "ui/dialog.h"

#include "ui/name_encoding.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <windows.h>

namespace {

constexpr UINT operator_code_page = 1251;

// Texts go to a console as characters, whatever its code pages; a file or
// pipe keeps today's bytes.
bool output_is_console() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

std::wstring widened(const char* text, UINT code_page) {
    const int length = MultiByteToWideChar(code_page, 0, text, -1, nullptr, 0);
    if (length <= 0) return L"";
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(code_page, 0, text, -1, wide.data(), length);
    wide.pop_back();
    return wide;
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
    return MessageBoxW(nullptr, widened(text, operator_code_page).c_str(),
                       widened(caption, operator_code_page).c_str(), style);
}

void oem_print(const char* text) {
    if (output_is_console()) {
        write_console(widened(text, operator_code_page));
        return;
    }
    char* converted = new char[std::strlen(text) + 1];
    CharToOemA(text, converted);
    std::fputs(converted, stdout);
    delete[] converted;
}

void print_plain(const char* text) { std::fputs(text, stdout); }

void print_file_name(const char* raw, NameEncoding encoding) {
    if (!output_is_console()) {
        print_plain(raw);
        return;
    }
    if (encoding == NameEncoding::utf8) write_console(widened(without_byte_order_mark(raw), CP_UTF8));
    else write_console(widened(raw, CP_ACP));
}

