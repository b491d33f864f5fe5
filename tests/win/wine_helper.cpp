// The Windows program as the operator sees it, read back through Win32:
//   box ANSWER...    for each answer (ok, yes, no, cancel): waits for a message
//                    box, prints "caption|text", presses that button
//   console PROGRAM  runs PROGRAM in a console of its own, prints its screen
// Output is UTF-8.
#include <cstdio>
#include <cstring>
#include <string>
#include <windows.h>

namespace {

void print(std::wstring text) {
    std::string utf8(text.size() * 4 + 1, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, nullptr) - 1);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

std::wstring text_of(HWND window) {
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    return text;
}

HWND wait_for_box() {
    for (int poll = 0; poll < 1200; ++poll, Sleep(50))
        if (HWND box = FindWindowW(L"#32770", nullptr); box && IsWindowVisible(box)) return box;
    return nullptr;
}

int answer_boxes(int count, char** answers) {
    for (int i = 0; i < count; ++i) {
        const HWND box = wait_for_box();
        if (!box) return 1;
        // 0xFFFF: the id of a message box's text.
        print(text_of(box) + L"|" + text_of(GetDlgItem(box, 0xFFFF)) + L"\n");
        const int id = !std::strcmp(answers[i], "yes") ? IDYES : !std::strcmp(answers[i], "no") ? IDNO
                       : !std::strcmp(answers[i], "cancel") ? IDCANCEL : IDOK;
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
        for (int poll = 0; IsWindow(box) && poll < 1200; ++poll) Sleep(50);
    }
    return 0;
}

int run_in_console(char* program) {
    const HANDLE report = GetStdHandle(STD_OUTPUT_HANDLE);
    FreeConsole();
    AllocConsole();
    SetStdHandle(STD_OUTPUT_HANDLE, report);
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    const HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inherited, OPEN_EXISTING, 0, nullptr);
    SetConsoleScreenBufferSize(screen, COORD{120, 200});
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = start.hStdError = screen;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, program, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &child)) return 1;
    WaitForSingleObject(child.hProcess, INFINITE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    GetConsoleScreenBufferInfo(screen, &info);
    const SHORT rows = info.dwCursorPosition.Y + (info.dwCursorPosition.X > 0);
    for (SHORT row = 0; row < rows; ++row) {
        std::wstring line(info.dwSize.X, L' ');
        DWORD read = 0;
        ReadConsoleOutputCharacterW(screen, line.data(), info.dwSize.X, COORD{0, row}, &read);
        print(line.substr(0, line.find_last_not_of(L' ') + 1) + L"\n");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && !std::strcmp(argv[1], "box")) return answer_boxes(argc - 2, argv + 2);
    if (argc == 3 && !std::strcmp(argv[1], "console")) return run_in_console(argv[2]);
    return 2;
}
