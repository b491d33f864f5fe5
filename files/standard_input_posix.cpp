#include "files/standard_input.h"
#include "files/read_whole.h"

#include <cerrno>
#include <unistd.h>

FileRead read_standard_input(std::uint64_t size_limit, std::vector<unsigned char>& contents, long& system_code) {
    system_code = 0;
    const auto read_some = [&](unsigned char* buffer, std::size_t capacity) -> long {
        ssize_t count;
        // A signal caught meanwhile (a stop is only noted) is no end of the input.
        do count = ::read(STDIN_FILENO, buffer, capacity);
        while (count < 0 && errno == EINTR);
        if (count < 0) system_code = errno;
        return static_cast<long>(count);
    };
    return read_whole(read_some, 0, size_limit, contents);
}
