#include "sim/pty_link.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void make_raw(int fd) {
    termios settings;
    if (tcgetattr(fd, &settings) != 0) fail("tcgetattr");
    cfmakeraw(&settings);
    if (tcsetattr(fd, TCSANOW, &settings) != 0) fail("tcsetattr");
}

}  // namespace

PtyLink::PtyLink(const std::filesystem::path& link) : link_(link) {
    try {
        open_link();
    } catch (...) {
        close_all();
        throw;
    }
}

void PtyLink::open_link() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) fail("pseudo-terminal");
    slave_path_ = ptsname(master_);
    slave_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) fail("open " + slave_path_);
    // A USB serial port starts binary; the updater's own settings then stay,
    // since the slave never closes.
    make_raw(slave_);
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0 || inotify_add_watch(watch_, slave_path_.c_str(), IN_OPEN | IN_CLOSE) < 0)
        fail("watch " + slave_path_);
    std::error_code ignored;
    std::filesystem::remove(link_, ignored);
    std::error_code error;
    std::filesystem::create_symlink(slave_path_, link_, error);
    if (error) throw std::runtime_error("link " + link_.string() + ": " + error.message());
}

PtyLink::~PtyLink() {
    std::error_code ignored;
    std::filesystem::remove(link_, ignored);
    close_all();
}

void PtyLink::close_all() {
    for (const int fd : {watch_, slave_, master_})
        if (fd >= 0) close(fd);
    watch_ = slave_ = master_ = -1;
}

PtyLink::PortEvents PtyLink::take_port_events() {
    PortEvents events;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(watch_, buffer, sizeof buffer);
        if (got <= 0) break;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_OPEN) events.new_user |= users_++ == 0;
            if ((event->mask & IN_CLOSE) && users_ > 0 && --users_ == 0) ioctl(slave_, TIOCNXCL);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return events;
}

std::size_t PtyLink::read(std::uint8_t* buffer, std::size_t size) {
    if (master_ < 0) return 0;
    const ssize_t got = ::read(master_, buffer, size);
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

std::size_t PtyLink::unread() const {
    int count = 0;
    return ioctl(slave_, FIONREAD, &count) == 0 && count > 0 ? static_cast<std::size_t>(count) : 0;
}

void PtyLink::hang_up() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

}  // namespace sim
