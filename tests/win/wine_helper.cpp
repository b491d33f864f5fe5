// What the Wine runs need to see the Windows program as an operator does:
//   wine-helper box ANSWER...     for each answer (ok, yes, no, cancel): waits
//                                 for a message box, prints "caption|text" as
//                                 UTF-8, presses that button, waits until the
//                                 box has gone
//   wine-helper console PROGRAM   runs PROGRAM in a console of its own and
//                                 prints what the console shows, as UTF-8
//   wine-helper oem               standard input, UTF-8, as the updater wrote
//                                 it to a file before it knew consoles: as
//                                 Windows-1251 through CharToOemA, CR LF ends
#include <cstdio>
#include <cstring>
#include <string>
#include <windows.h>

namespace {

constexpr int wait_polls = 1200;  // of 50 ms
// Wine's and Windows' id of a message box's text.
constexpr int box_text_id = 0xFFFF;

std::string narrowed(const std::wstring& text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length, nullptr,
                        nullptr);
    return utf8;
}

std::wstring window_text(HWND window) {
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    return text;
}

BOOL CALLBACK take_box(HWND window, LPARAM found) {
    wchar_t kind[16] = L"";
    GetClassNameW(window, kind, 16);
    if (!IsWindowVisible(window) || std::wcscmp(kind, L"#32770") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

HWND find_box() {
    for (int poll = 0; poll < wait_polls; ++poll) {
        HWND box = nullptr;
        EnumWindows(take_box, reinterpret_cast<LPARAM>(&box));
        if (box) return box;
        Sleep(50);
    }
    return nullptr;
}

int answer_id(const char* answer) {
    if (!std::strcmp(answer, "yes")) return IDYES;
    if (!std::strcmp(answer, "no")) return IDNO;
    if (!std::strcmp(answer, "cancel")) return IDCANCEL;
    return IDOK;
}

int answer_boxes(int count, char** answers) {
    for (int i = 0; i < count; ++i) {
        const HWND box = find_box();
        if (!box) {
            std::printf("no box for '%s'\n", answers[i]);
            return 1;
        }
        std::printf("%s|%s\n", narrowed(window_text(box)).c_str(),
                    narrowed(window_text(GetDlgItem(box, box_text_id))).c_str());
        std::fflush(stdout);
        const int id = answer_id(answers[i]);
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
        for (int poll = 0; IsWindow(box) && poll < wait_polls; ++poll) Sleep(50);
        if (IsWindow(box)) return 1;
    }
    return 0;
}

// The console's lines up to the cursor, without their trailing blanks.
std::wstring screen_text(HANDLE screen) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    GetConsoleScreenBufferInfo(screen, &info);
    std::wstring all;
    for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
        std::wstring line(static_cast<std::size_t>(info.dwSize.X), L' ');
        DWORD read = 0;
        ReadConsoleOutputCharacterW(screen, line.data(), info.dwSize.X, COORD{0, row}, &read);
        line.resize(line.find_last_not_of(L' ') + 1);
        all += line + L"\n";
    }
    return all;
}

int run_in_console(char* program) {
    const HANDLE report = GetStdHandle(STD_OUTPUT_HANDLE);
    FreeConsole();
    if (!AllocConsole()) return 2;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    const HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inherited, OPEN_EXISTING, 0, nullptr);
    const HANDLE keyboard = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inherited, OPEN_EXISTING, 0, nullptr);
    // Room for every line the program writes.
    SetConsoleScreenBufferSize(screen, COORD{120, 200});
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = keyboard;
    start.hStdOutput = screen;
    start.hStdError = screen;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, program, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &child)) return 2;
    WaitForSingleObject(child.hProcess, INFINITE);
    const std::string shown = narrowed(screen_text(screen));
    DWORD written = 0;
    WriteFile(report, shown.data(), static_cast<DWORD>(shown.size()), &written, nullptr);
    return 0;
}

int print_as_before() {
    std::string text;
    for (int c; (c = std::getchar()) != EOF;) text.push_back(static_cast<char>(c));
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            static_cast<int>(wide.size()))));
    std::string cp1251(wide.size() * 2 + 1, '\0');
    cp1251.resize(static_cast<std::size_t>(WideCharToMultiByte(1251, 0, wide.data(), static_cast<int>(wide.size()),
                                                               cp1251.data(), static_cast<int>(cp1251.size()),
                                                               nullptr, nullptr)));
    std::string oem(cp1251.size() + 1, '\0');
    CharToOemA(cp1251.c_str(), oem.data());
    oem.resize(std::strlen(oem.c_str()));
    // Text mode gives the CR LF line ends.
    std::fputs(oem.c_str(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && !std::strcmp(argv[1], "box")) return answer_boxes(argc - 2, argv + 2);
    if (argc == 3 && !std::strcmp(argv[1], "console")) return run_in_console(argv[2]);
    if (argc == 2 && !std::strcmp(argv[1], "oem")) return print_as_before();
    std::fprintf(stderr, "usage: wine-helper box ANSWER... | console PROGRAM | oem\n");
    return 2;
}
