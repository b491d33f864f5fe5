#include "support/pty_peer.h"

#include "support/byte_io.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/stat.h>
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

void PtyPeer::send(const Bytes& bytes) { send_bytes(master_, bytes); }

Bytes PtyPeer::receive(std::size_t count, std::chrono::milliseconds limit) {
    return receive_bytes(master_, count, limit);
}

Bytes PtyPeer::drain(std::chrono::milliseconds quiet) { return drain_bytes(master_, quiet); }

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

void PtyPeer::open_to_all(bool exclusive) {
    if (fchmod(slave_, 0666) != 0 || (exclusive && ioctl(slave_, TIOCEXCL) != 0))
        throw std::runtime_error("port not opened to all");
}
