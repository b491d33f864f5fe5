#include "cli/platform.h"

#include "ui/text_encoding.h"

#include <atomic>
#include <cstdio>
#include <string_view>
#include <windows.h>

namespace {

std::atomic<bool> stop_flag = false;

BOOL WINAPI note_stop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    stop_flag = true;
    return TRUE;
}

// Arguments and texts come from the wide API or from the program itself, so
// they are UTF-8; anything else keeps its Cyrillic and ASCII at least.
std::wstring wide(const std::string& text) {
    std::u16string converted;
    if (!utf16_from_utf8(text, converted)) converted = utf16_from_cp1251(cp1251_from_utf8(text));
    return std::wstring(converted.begin(), converted.end());
}

std::string narrow(const wchar_t* text) {
    const std::wstring_view view(text);
    return utf8_from_utf16(std::u16string(view.begin(), view.end()));
}

HANDLE handle_of(Stream stream) { return GetStdHandle(stream == Stream::out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE); }

std::string system_reason(DWORD code) {
    wchar_t reason[256] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, reason, 256, nullptr);
    std::string text = narrow(reason);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

Language user_language() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN ? Language::russian : Language::english;
}

// The ANSI arguments would lose every character outside the code page.
std::vector<std::string> program_arguments(int, char**) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> result;
    for (int i = 1; i < count; ++i) result.push_back(narrow(arguments[i]));
    LocalFree(arguments);
    return result;
}

bool is_terminal(Stream stream) {
    DWORD mode = 0;
    return GetConsoleMode(handle_of(stream), &mode) != 0;
}

void write_text(Stream stream, const std::string& text) {
    std::fflush(stream == Stream::out ? stdout : stderr);
    const HANDLE handle = handle_of(stream);
    DWORD written = 0;
    if (is_terminal(stream)) {
        const std::wstring converted = wide(text);
        WriteConsoleW(handle, converted.data(), static_cast<DWORD>(converted.size()), &written, nullptr);
    } else {
        WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

void catch_stop_request() { SetConsoleCtrlHandler(note_stop, TRUE); }

bool stop_requested() { return stop_flag; }

bool replace_file(const std::string& from, const std::string& to, std::string& reason) {
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    reason = system_reason(GetLastError());
    return false;
}

// The window's width, not the buffer's: columns scrolled out of sight would
// hide the end of the line.
int terminal_columns(Stream stream) {
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (!GetConsoleScreenBufferInfo(handle_of(stream), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}
