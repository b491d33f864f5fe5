#include "cli/child_process.h"

#include "ui/text_encoding.h"

#include <algorithm>
#include <windows.h>

namespace {

// One handle, closed on every path.
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    HANDLE get() const { return handle_; }
    HANDLE* out() { return &handle_; }
    explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr) {
        if (*this) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

std::wstring wide(const std::string& text) {
    std::u16string converted;
    if (!utf16_from_utf8(text, converted)) converted = utf16_from_cp1251(cp1251_from_utf8(text));
    return std::wstring(converted.begin(), converted.end());
}

// As CommandLineToArgvW splits it back: quotes around a word with blanks or
// quotes, backslashes doubled only before a quote.
std::wstring quoted(const std::wstring& word) {
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) return word;
    std::wstring text = L"\"";
    for (std::size_t at = 0;; ++at) {
        std::size_t backslashes = 0;
        for (; at < word.size() && word[at] == L'\\'; ++at) ++backslashes;
        if (at == word.size()) {
            text.append(backslashes * 2, L'\\');
            break;
        }
        text.append(word[at] == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        text += word[at];
    }
    return text + L"\"";
}

std::wstring own_program_path() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path;
}

std::string system_reason(const char* call) {
    return std::string(call) + " failed: error " + std::to_string(GetLastError());
}

}  // namespace

struct ChildProcess::Handles {
    OwnedHandle process;
    OwnedHandle output;  // the read end of the child's standard output
    OwnedHandle input;   // the write end of its standard input: closed to stop it
    DWORD id = 0;
    bool started = false;
    std::string failure;
};

namespace {

// The pipes' ends the child gets are the only handles it inherits: the
// line's own ends are kept from it, and from every later worker.
bool start(const std::wstring& program, std::wstring command_line, ChildProcess::Handles& handles) {
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    OwnedHandle child_output, child_input, child_error;
    if (!CreatePipe(handles.output.out(), child_output.out(), &inherited, 0) ||
        !CreatePipe(child_input.out(), handles.input.out(), &inherited, 0)) {
        handles.failure = system_reason("CreatePipe");
        return false;
    }
    SetHandleInformation(handles.output.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(handles.input.get(), HANDLE_FLAG_INHERIT, 0);
    DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_ERROR_HANDLE), GetCurrentProcess(), child_error.out(), 0,
                    TRUE, DUPLICATE_SAME_ACCESS);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_input.get();
    startup.hStdOutput = child_output.get();
    startup.hStdError = child_error.get();
    PROCESS_INFORMATION created = {};
    // A process group of its own: the console's Ctrl-C reaches the line only.
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                        nullptr, nullptr, &startup, &created)) {
        handles.failure = system_reason("CreateProcessW");
        return false;
    }
    CloseHandle(created.hThread);
    handles.process.reset(created.hProcess);
    handles.id = created.dwProcessId;
    return true;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& arguments) : handles_(std::make_unique<Handles>()) {
    const std::wstring program = own_program_path();
    std::wstring command_line = quoted(program);
    for (const std::string& argument : arguments) command_line += L" " + quoted(wide(argument));
    handles_->started = start(program, command_line, *handles_);
}

ChildProcess::~ChildProcess() {
    if (handles_->process) {
        TerminateProcess(handles_->process.get(), 1);
        WaitForSingleObject(handles_->process.get(), 5000);
    }
}

bool ChildProcess::started() const { return handles_->started; }

const std::string& ChildProcess::failure() const { return handles_->failure; }

unsigned long ChildProcess::id() const { return handles_->id; }

bool ChildProcess::read_output(std::string& text) {
    if (!handles_->output) return false;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(handles_->output.get(), nullptr, 0, nullptr, &available, nullptr)) break;
        if (available == 0) return true;
        char buffer[4096];
        DWORD count = 0;
        if (!ReadFile(handles_->output.get(), buffer, std::min<DWORD>(available, sizeof buffer), &count, nullptr) ||
            count == 0)
            break;
        text.append(buffer, count);
    }
    handles_->output.reset();
    return false;
}

std::optional<ProcessEnd> ChildProcess::ended() {
    if (!handles_->process || WaitForSingleObject(handles_->process.get(), 0) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(handles_->process.get(), &code);
    handles_->process.reset();
    return ProcessEnd{false, static_cast<int>(code)};
}

void ChildProcess::ask_to_stop() { handles_->input.reset(); }

void ChildProcess::kill() {
    if (handles_->process) TerminateProcess(handles_->process.get(), 1);
}

// Anonymous pipes cannot be waited on: they are looked at every 10 ms.
void wait_for_output(const std::vector<ChildProcess*>& children, int milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
    do {
        for (ChildProcess* child : children) {
            DWORD available = 0;
            if (child->handles_->output &&
                (!PeekNamedPipe(child->handles_->output.get(), nullptr, 0, nullptr, &available, nullptr) ||
                 available > 0))
                return;
        }
        Sleep(10);
    } while (GetTickCount64() < deadline);
}
