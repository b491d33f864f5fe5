#include "sim_process.h"

#include "support/byte_io.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using steady = std::chrono::steady_clock;

}  // namespace

Bytes to_bytes(const std::string& text) { return {text.begin(), text.end()}; }

SimProcess::SimProcess(const std::filesystem::path& folder, const std::vector<std::string>& arguments)
    : SimDevice(SimPaths{folder / "COM7", folder / "ready", folder / "status.json", folder / "stderr.txt", {}},
                arguments) {}

SimProcess::~SimProcess() { close_port(); }

void SimProcess::open_port() {
    close_port();
    port_ = open(link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port_ < 0) throw std::runtime_error("cannot open " + link().string());
    ioctl(port_, TIOCEXCL);
    tcflush(port_, TCIOFLUSH);
    termios settings;
    tcgetattr(port_, &settings);
    cfmakeraw(&settings);
    cfsetspeed(&settings, B115200);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    tcsetattr(port_, TCSANOW, &settings);
}

void SimProcess::close_port() {
    if (port_ >= 0) close(port_);
    port_ = -1;
}

void SimProcess::send(const Bytes& bytes) { send_bytes(port_, bytes); }

Bytes SimProcess::receive(std::size_t count, std::chrono::milliseconds limit) {
    return receive_bytes(port_, count, limit);
}

Bytes SimProcess::drain(std::chrono::milliseconds quiet) { return drain_bytes(port_, quiet); }

Bytes SimProcess::ask(const std::string& frame, std::size_t count) {
    send(frame);
    return receive(count);
}

bool SimProcess::hung_up(std::chrono::milliseconds limit) {
    const auto deadline = steady::now() + limit;
    while (steady::now() < deadline) {
        pollfd entry = {port_, POLLIN, 0};
        if (poll(&entry, 1, 50) <= 0) continue;
        if (entry.revents & (POLLHUP | POLLERR)) return true;
        std::uint8_t unread[256];
        if (read(port_, unread, sizeof unread) < 0 && errno == EIO) return true;
    }
    return false;
}
