#include "app/input_file.h"

#include <ext/stdio_filebuf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::unique_ptr<std::streambuf> open_input_file(const char* name) {
    // O_NONBLOCK makes a FIFO's open return at once; the same descriptor is
    // then used, so the file checked is the file read.
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info;
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    // The buffer owns the descriptor from here and closes it.
    auto buffer = std::make_unique<__gnu_cxx::stdio_filebuf<char>>(fd, std::ios::in | std::ios::binary);
    if (!buffer->is_open()) {
        close(fd);
        return nullptr;
    }
    return buffer;
}

std::unique_ptr<std::streambuf> open_input_file_utf8(const char* utf8_name) { return open_input_file(utf8_name); }
