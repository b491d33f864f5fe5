#include "support/pty_peer.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer(const std::filesystem::path& folder, int number)
    : link_(folder / ("COM" + std::to_string(number))) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    const std::string slave_path = ptsname(master_);
    // Holding the slave open keeps the pty alive across the updater's closes
    // and lets it start raw, as a USB serial port does.
    slave_ = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings;
    tcgetattr(slave_, &settings);
    cfmakeraw(&settings);
    tcsetattr(slave_, TCSANOW, &settings);
    std::filesystem::create_symlink(slave_path, link_);
}

PtyPeer::~PtyPeer() {
    if (answerer_.joinable()) answerer_.join();
    std::error_code ignored;
    std::filesystem::remove(link_, ignored);
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
}

void PtyPeer::send(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = write(master_, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) throw std::runtime_error("pty write failed");
        done += static_cast<std::size_t>(put);
    }
}

Bytes PtyPeer::receive(std::size_t count, std::chrono::milliseconds limit) {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd entry = {master_, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
        std::uint8_t buffer[4096];
        const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0) break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

Bytes PtyPeer::drain(std::chrono::milliseconds quiet) {
    Bytes all;
    for (;;) {
        const Bytes more = receive(1 << 20, quiet);
        if (more.empty()) return all;
        all.insert(all.end(), more.begin(), more.end());
    }
}

void PtyPeer::answer_greeting(Bytes answer) {
    answerer_ = std::thread([this, answer] {
        greeting_ = receive(3, std::chrono::seconds(10));
        if (greeting_.size() == 3) send(answer);
    });
}

Bytes PtyPeer::greeting_received() {
    if (answerer_.joinable()) answerer_.join();
    return greeting_;
}

void PtyPeer::hang_up() {
    close(master_);
    master_ = -1;
}
