#include "files/standard_input.h"
#include "files/read_whole.h"

#include <windows.h>

FileRead read_standard_input(std::uint64_t size_limit, std::vector<unsigned char>& contents, long& system_code) {
    system_code = 0;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const auto read_some = [&](unsigned char* buffer, std::size_t capacity) -> long {
        DWORD count = 0;
        if (ReadFile(input, buffer, static_cast<DWORD>(capacity), &count, nullptr)) return static_cast<long>(count);
        const DWORD error = GetLastError();
        // The writer's end of a pipe closed: the input is whole.
        if (error == ERROR_BROKEN_PIPE) return 0;
        system_code = static_cast<long>(error);
        return -1;
    };
    return read_whole(read_some, 0, size_limit, contents);
}
