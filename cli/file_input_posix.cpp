#include "file_input.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileDescriptor {
    int descriptor;
    ~FileDescriptor() { ::close(descriptor); }
};

}  // namespace

FileRead read_regular_file(const std::string& path, std::uint64_t size_limit,
                           std::vector<unsigned char>& contents, long& system_code) {
    contents.clear();
    system_code = 0;
    // Looked at before opening, since opening a terminal or a FIFO has
    // effects of its own; non-blocking, so that a FIFO swapped in meanwhile
    // does not wait for a writer (fstat below refuses it then).
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        return FileRead::not_regular_file;
    int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        system_code = errno;
        if (errno == ENOENT || errno == ENOTDIR)
            return FileRead::not_found;
        return errno == EACCES || errno == EPERM ? FileRead::access_denied : FileRead::cannot_open;
    }
    FileDescriptor file{descriptor};
    if (::fstat(descriptor, &status) != 0) {
        system_code = errno;
        return FileRead::read_failed;
    }
    if (!S_ISREG(status.st_mode))
        return FileRead::not_regular_file;
    if (static_cast<std::uint64_t>(status.st_size) > size_limit)
        return FileRead::too_large;
    contents.reserve(static_cast<std::size_t>(status.st_size));
    // Read to the end, not to the size seen: the file may change meanwhile.
    unsigned char chunk[65536];
    for (;;) {
        ssize_t count = ::read(descriptor, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            system_code = errno;
            contents.clear();
            return FileRead::read_failed;
        }
        if (count == 0)
            return FileRead::done;
        if (contents.size() + static_cast<std::size_t>(count) > size_limit) {
            contents.clear();
            return FileRead::too_large;
        }
        contents.insert(contents.end(), chunk, chunk + count);
    }
}
