#include "cli/platform.h"

#include <atomic>
#include <cstdio>
#include <windows.h>

namespace {

std::atomic<bool> stop_flag = false;

BOOL WINAPI note_stop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    stop_flag = true;
    return TRUE;
}

std::wstring wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

std::string narrow(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
    return result;
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
