// The serial back end on POSIX: termios on /dev/ttyACM<n-1>, or on DIR/COMn
// when ZELMIRAN_COM_DIR=DIR names a folder of port links.
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
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using steady = std::chrono::steady_clock;

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
bool wait_for(short events, steady::time_point deadline, bool* timed_out) {
    *timed_out = false;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady::now());
        if (left.count() <= 0) {
            *timed_out = true;
            return true;
        }
        pollfd entry = {port_fd, events, 0};
        const int ready = poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return fail("poll");
        if (ready == 0) continue;
        // Only asked for after the port had nothing to give: a hang-up now
        // means the device is gone.
        if (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            errno = EIO;
            return fail("poll");
        }
        return true;
    }
}

}  // namespace

bool platform_open_port(int number) {
    port_path = port_name(number);
    const int fd = open(port_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail("open");
    // The port is ours alone while the updater runs, as on Windows.
    if (ioctl(fd, TIOCEXCL) != 0) {
        fail("ioctl TIOCEXCL");
        close(fd);
        return false;
    }
    port_fd = fd;
    return true;
}

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
    *feedback = 0;
    if (port_fd < 0) {
        errno = EBADF;
        return fail("read");
    }
    const auto deadline = steady::now() + std::chrono::milliseconds(link_timeout_ms);
    while (*feedback < count) {
        const ssize_t got = read(port_fd, destination + *feedback, count - *feedback);
        if (got > 0) {
            *feedback += static_cast<std::uint32_t>(got);
            continue;
        }
        // With no time-out in termios, a terminal answers "nothing yet" with 0.
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno != EAGAIN) return fail("read");
        bool timed_out = false;
        if (!wait_for(POLLIN, deadline, &timed_out)) return false;
        if (timed_out) break;
    }
    return true;
}

bool platform_write_call(const unsigned char* source, std::uint32_t count, std::uint32_t* feedback) {
    *feedback = 0;
    if (port_fd < 0) {
        errno = EBADF;
        return fail("write");
    }
    const auto deadline = steady::now() + std::chrono::milliseconds(link_timeout_ms);
    while (*feedback < count) {
        const ssize_t put = write(port_fd, source + *feedback, count - *feedback);
        if (put > 0) {
            *feedback += static_cast<std::uint32_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) return fail("write");
        bool timed_out = false;
        if (!wait_for(POLLOUT, deadline, &timed_out)) return false;
        if (timed_out) break;
    }
    return true;
}

void platform_close_port() {
    close(port_fd);
    port_fd = -1;
}

bool platform_port_open() { return port_fd >= 0; }

std::uint32_t platform_tick_ms() {
    const auto now = steady::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

const char* platform_failure() { return failure; }
