#include "support/byte_io.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

void send_bytes(int fd, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
        } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error("line write failed");
        } else {
            pollfd entry = {fd, POLLOUT, 0};
            poll(&entry, 1, 100);
        }
    }
}

Bytes receive_bytes(int fd, std::size_t count, std::chrono::milliseconds limit) {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < count) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd entry = {fd, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left)) <= 0) continue;
        if (!(entry.revents & POLLIN)) break;  // hung up, nothing left to read
        std::uint8_t buffer[4096];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0) break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

Bytes drain_bytes(int fd, std::chrono::milliseconds quiet) {
    Bytes all;
    for (;;) {
        const Bytes more = receive_bytes(fd, 1 << 20, quiet);
        if (more.empty()) return all;
        all.insert(all.end(), more.begin(), more.end());
    }
}
