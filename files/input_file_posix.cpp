#include "files/input_file.h"
#include "files/read_whole.h"

#include <cerrno>
#include <ext/stdio_filebuf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

struct OpenedDescriptor {
    FileRead outcome = FileRead::cannot_open;
    long system_code = 0;
    Descriptor fd;
    std::uint64_t size = 0;
};

OpenedDescriptor failure(FileRead outcome, long system_code) {
    return {outcome, system_code, Descriptor{}, 0};
}

FileRead open_failure(int error) {
    if (error == ENOENT || error == ENOTDIR) return FileRead::not_found;
    return error == EACCES || error == EPERM ? FileRead::access_denied : FileRead::cannot_open;
}

// Names are bytes here: only a Windows-1251 one has to become the UTF-8 the
// file systems are named in.
std::string native_name(const std::string& name, NameEncoding encoding) {
    return encoding == NameEncoding::cp1251 ? utf8_from_cp1251(name) : name;
}

[[nodiscard]] int open_nonblocking(const std::string& path) {
    int fd;
    do fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// The status is looked at before opening, since opening a terminal or a FIFO
// has effects of its own. The open does not block, so that a FIFO swapped in
// meanwhile does not wait for a writer, and fstat then holds the file opened
// to the same test; reads block again afterwards, as a stream expects.
OpenedDescriptor open_descriptor(const std::string& name, NameEncoding encoding) {
    const std::string path = native_name(name, encoding);
    // The system would take the name as ending at the first NUL: another file.
    if (path.find('\0') != std::string::npos) return failure(FileRead::cannot_open, 0);
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) return failure(FileRead::not_regular_file, 0);
    Descriptor fd{open_nonblocking(path)};
    if (fd.get() < 0) return failure(open_failure(errno), errno);
    if (::fstat(fd.get(), &status) != 0) return failure(FileRead::cannot_open, errno);
    if (!S_ISREG(status.st_mode)) return failure(FileRead::not_regular_file, 0);
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return failure(FileRead::cannot_open, errno);
    return {FileRead::done, 0, std::move(fd), static_cast<std::uint64_t>(status.st_size)};
}

}  // namespace

OpenedFile open_regular_file(const std::string& name, NameEncoding encoding) {
    OpenedDescriptor opened = open_descriptor(name, encoding);
    if (opened.outcome != FileRead::done) return {opened.outcome, opened.system_code, nullptr};
    auto buffer = std::make_unique<__gnu_cxx::stdio_filebuf<char>>(opened.fd.get(), std::ios::in | std::ios::binary);
    // The buffer's FILE owns the descriptor once it is open, and closes it.
    if (!buffer->is_open()) return {FileRead::cannot_open, errno, nullptr};
    static_cast<void>(opened.fd.release());
    return {FileRead::done, 0, std::move(buffer)};
}

FileRead read_regular_file(const std::string& name, NameEncoding encoding, std::uint64_t size_limit,
                           std::vector<unsigned char>& contents, long& system_code) {
    contents.clear();
    OpenedDescriptor opened = open_descriptor(name, encoding);
    system_code = opened.system_code;
    if (opened.outcome != FileRead::done) return opened.outcome;
    const auto read_some = [&](unsigned char* buffer, std::size_t capacity) -> long {
        ssize_t count;
        do count = ::read(opened.fd.get(), buffer, capacity);
        while (count < 0 && errno == EINTR);
        if (count < 0) system_code = errno;
        return static_cast<long>(count);
    };
    return read_whole(read_some, opened.size, size_limit, contents);
}
