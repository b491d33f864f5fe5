// The serial back end on POSIX: termios on /dev/ttyACM<n-1>, or on DIR/COMn
// when ZELMIRAN_COM_DIR=DIR names a folder of port links.
#include "link/deadline.h"
#include "link/serial.h"
#include "link/serial_platform.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

int port_fd = -1;
std::string port_path;
char failure[256];

bool fail(const char* call) {
    std::snprintf(failure, sizeof failure, "%s(%s): %s", call, port_path.c_str(), std::strerror(errno));
    return false;
}

std::string port_name(int number) {
    if (const char* folder = std::getenv("ZELMIRAN_COM_DIR"))
        return std::string(folder) + "/COM" + std::to_string(number);
    return "/dev/ttyACM" + std::to_string(number - 1);
}

// Waits until the port is ready for `events` or the deadline passes; false
// when the port failed (hung up or in error).
bool wait_for(short events, const Deadline& deadline) {
    for (;;) {
        pollfd entry = {port_fd, events, 0};
        const int ready = poll(&entry, 1, static_cast<int>(remaining_ms(deadline)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return fail("poll");
        // Only asked for after the port had nothing to give: a hang-up now
        // means the device is gone.
        if (ready > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            errno = EIO;
            return fail("poll");
        }
        return true;
    }
}

using Move = ssize_t (*)(int fd, unsigned char* bytes, std::size_t count);

// One read or write call as the transport sees it: moves bytes until all
// `count` are moved or link_timeout_ms has passed; false when the port failed.
bool transfer(const char* call, short events, Move move, unsigned char* bytes, std::uint32_t count,
              std::uint32_t* moved) {
    *moved = 0;
    if (port_fd < 0) {
        errno = EBADF;
        return fail(call);
    }
    const Deadline deadline = deadline_in(link_timeout_ms);
    while (*moved < count) {
        const ssize_t done = move(port_fd, bytes + *moved, count - *moved);
        if (done > 0) {
            *moved += static_cast<std::uint32_t>(done);
            continue;
        }
        // With no time-out in termios, a terminal answers "nothing yet" with
        // 0 or EAGAIN.
        if (done < 0 && errno == EINTR) continue;
        if (done < 0 && errno != EAGAIN) return fail(call);
        if (passed(deadline)) break;
        if (!wait_for(events, deadline)) return false;
    }
    return true;
}

}  // namespace

PortOpen platform_open_port(int number) { return platform_open_port_path(port_name(number).c_str()); }

PortOpen platform_open_port_path(const char* path) {
    port_path = path;
    const int fd = open(port_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // EBUSY is what another user's exclusive hold (TIOCEXCL) gives.
        const int reason = errno;
        fail("open");
        if (reason == EBUSY) return PortOpen::busy;
        if (reason == ENOENT || reason == ENXIO || reason == ENODEV) return PortOpen::missing;
        return reason == EACCES || reason == EPERM ? PortOpen::denied : PortOpen::failed;
    }
    // One program at a time on a port, root's included, for which TIOCEXCL
    // does not hold: the lock goes with the descriptor, at close or exit.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        fail("flock");
        close(fd);
        return reason == EWOULDBLOCK ? PortOpen::busy : PortOpen::failed;
    }
    // The port is ours alone while the updater runs, as on Windows.
    if (ioctl(fd, TIOCEXCL) != 0) {
        fail("ioctl TIOCEXCL");
        close(fd);
        return PortOpen::failed;
    }
    port_fd = fd;
    return PortOpen::opened;
}

const char* platform_port_name() { return port_path.c_str(); }

std::string platform_port_path(int number) { return port_name(number); }

bool platform_port_present(const char* path) { return access(path, F_OK) == 0; }

void platform_prepare_port() {
    // Fresh queues, as a newly opened Windows port has: nothing a previous
    // user of the port left unread is taken for the monitor's answer.
    tcflush(port_fd, TCIOFLUSH);
}

bool platform_set_timeouts() {
    // The time-outs themselves are kept by the read and write calls; termios
    // only has to return at once with whatever has arrived.
    termios settings;
    if (tcgetattr(port_fd, &settings) != 0) return fail("tcgetattr");
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(port_fd, TCSANOW, &settings) != 0) return fail("tcsetattr");
    return true;
}

bool platform_apply_settings() {
    termios settings;
    if (tcgetattr(port_fd, &settings) != 0) return fail("tcgetattr");
    cfmakeraw(&settings);  // binary: no line editing, no translation, no null stripping
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    settings.c_cc[VSTART] = 0x00;
    settings.c_cc[VSTOP] = static_cast<cc_t>(0xFF);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(port_fd, TCSANOW, &settings) != 0) return fail("tcsetattr");
    // DTR and RTS stay low; a pseudo-terminal has no modem lines, so the
    // outcome is not checked.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(port_fd, TIOCMBIC, &lines);
    return true;
}

bool platform_read_call(unsigned char* destination, std::uint32_t count, std::uint32_t* feedback) {
    return transfer("read", POLLIN, [](int fd, unsigned char* bytes, std::size_t n) { return read(fd, bytes, n); },
                    destination, count, feedback);
}

bool platform_write_call(const unsigned char* source, std::uint32_t count, std::uint32_t* feedback) {
    // write() only reads from the bytes; the cast lets one loop serve both.
    return transfer("write", POLLOUT,
                    [](int fd, unsigned char* bytes, std::size_t n) { return write(fd, bytes, n); },
                    const_cast<unsigned char*>(source), count, feedback);
}

void platform_close_port() {
    close(port_fd);
    port_fd = -1;
}

bool platform_port_open() { return port_fd >= 0; }

ParkedPort platform_park_port() {
    const ParkedPort parked{port_fd, port_path};
    port_fd = -1;
    return parked;
}

void platform_resume_port(const ParkedPort& port) {
    port_fd = static_cast<int>(port.handle);
    port_path = port.name;
}

void platform_close_parked(const ParkedPort& port) { close(static_cast<int>(port.handle)); }

std::uint32_t platform_tick_ms() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

const char* platform_failure() { return failure; }
