#include "cli/platform.h"

#include "ui/text_encoding.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string_view>
#include <windows.h>

namespace {

constexpr ULONGLONG again_within_ms = 2000;
// Windows ends the process this long after the console's close event came
// in; the command stops at its next safe point well before.
constexpr DWORD close_grace_ms = 4500;
constexpr int sighup = 1;

std::atomic<int> signals_seen = 0;
std::atomic<int> first_signal = 0;
std::atomic<ULONGLONG> last_signal_at = 0;
int patient = 1;
// The handler runs on a thread of its own: the texts are guarded.
CRITICAL_SECTION texts_guard;
std::string last_words;
std::string unfinished_file;

std::wstring wide(const std::string& text);

void end_at_once(int number) {
    EnterCriticalSection(&texts_guard);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), last_words.data(), static_cast<DWORD>(last_words.size()), &written,
              nullptr);
    if (!unfinished_file.empty()) DeleteFileW(wide(unfinished_file).c_str());
    ExitProcess(static_cast<UINT>(128 + number));
}

BOOL WINAPI note_stop(DWORD event) {
    const bool closing = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    if (!closing && event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    const int number = closing ? sighup : SIGINT;
    const ULONGLONG now = GetTickCount64();
    const bool again = signals_seen >= patient && now - last_signal_at < again_within_ms;
    last_signal_at = now;
    int none = 0;
    first_signal.compare_exchange_strong(none, number);
    ++signals_seen;
    if (again) end_at_once(number);
    if (closing) Sleep(close_grace_ms);
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

void prepare_binary_output() { _setmode(_fileno(stdout), _O_BINARY); }

bool write_binary_output(const unsigned char* bytes, std::size_t count, std::string& reason) {
    const HANDLE handle = handle_of(Stream::out);
    while (count > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 20));
        if (!WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0) {
            reason = system_reason(GetLastError());
            return false;
        }
        bytes += written;
        count -= written;
    }
    return true;
}

void catch_stop_signals(int patient_stops) {
    patient = patient_stops;
    InitializeCriticalSection(&texts_guard);
    SetConsoleCtrlHandler(note_stop, TRUE);
}

namespace {

// The line closes the worker's standard input to stop it: the end of input,
// or the pipe broken when the line is gone, is one stop.
DWORD WINAPI watch_input(void*) {
    char byte = 0;
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read > 0) {
    }
    int none = 0;
    first_signal.compare_exchange_strong(none, SIGINT);
    ++signals_seen;
    return 0;
}

}  // namespace

void stop_when_line_ends() {
    if (HANDLE thread = CreateThread(nullptr, 0, watch_input, nullptr, 0, nullptr)) CloseHandle(thread);
}

int stops_asked() { return signals_seen; }

int stop_signal() { return first_signal; }

void set_last_words(const std::string& words) {
    EnterCriticalSection(&texts_guard);
    last_words = words;
    LeaveCriticalSection(&texts_guard);
}

void set_unfinished_file(const std::string& path) {
    EnterCriticalSection(&texts_guard);
    unfinished_file = path;
    LeaveCriticalSection(&texts_guard);
}

bool replace_file(const std::string& from, const std::string& to, std::string& reason) {
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    reason = system_reason(GetLastError());
    return false;
}

bool terminal_sequences(Stream stream) {
    DWORD mode = 0;
    const HANDLE handle = handle_of(stream);
    if (!GetConsoleMode(handle, &mode)) return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::string host_name() {
    wchar_t name[256] = L"";
    DWORD size = 256;
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return "";
    return narrow(name);
}

unsigned long process_id() { return GetCurrentProcessId(); }

// The window's width, not the buffer's: columns scrolled out of sight would
// hide the end of the line.
int terminal_columns(Stream stream) {
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (!GetConsoleScreenBufferInfo(handle_of(stream), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}
