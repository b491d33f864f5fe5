#include "sim_process.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using steady = std::chrono::steady_clock;

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = steady::now() + limit;
    while (!done()) {
        if (steady::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace

Bytes to_bytes(const std::string& text) { return {text.begin(), text.end()}; }

SimProcess::SimProcess(const std::filesystem::path& folder, const std::vector<std::string>& arguments)
    : folder_(folder) {
    std::vector<std::string> words = {ZELMIRAN_SIM_PATH,
                                      "--link", link().string(),
                                      "--ready", (folder / "ready").string(),
                                      "--status", status_file().string()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const std::string error_file = (folder / "stderr.txt").string();
    // The marker of a device started earlier in the folder must not count.
    std::filesystem::remove(folder / "ready");
    pid_ = fork();
    if (pid_ == 0) {
        const int error = open(error_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(error, STDERR_FILENO);
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    const bool up = wait_until([&] { return std::filesystem::exists(folder / "ready"); }, std::chrono::seconds(10));
    if (!up) throw std::runtime_error("zelmiran-sim did not come up: " + standard_error());
}

SimProcess::~SimProcess() {
    close_port();
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

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

void SimProcess::send(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = write(port_, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
        } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error("port write failed");
        } else {
            pollfd entry = {port_, POLLOUT, 0};
            poll(&entry, 1, 100);
        }
    }
}

Bytes SimProcess::receive(std::size_t count, std::chrono::milliseconds limit) {
    Bytes got;
    const auto deadline = steady::now() + limit;
    while (got.size() < count) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady::now()).count();
        if (left <= 0) break;
        pollfd entry = {port_, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left)) <= 0) continue;
        if (entry.revents & (POLLHUP | POLLERR)) break;
        std::uint8_t buffer[4096];
        const ssize_t n = read(port_, buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0) got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

Bytes SimProcess::drain(std::chrono::milliseconds quiet) {
    Bytes all;
    for (;;) {
        const Bytes more = receive(1 << 20, quiet);
        if (more.empty()) return all;
        all.insert(all.end(), more.begin(), more.end());
    }
}

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

std::string SimProcess::status() {
    std::filesystem::remove(status_file());
    signal(SIGUSR1);
    if (!wait_until([&] { return std::filesystem::exists(status_file()); }, std::chrono::seconds(5))) return "";
    std::ifstream in(status_file());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void SimProcess::signal(int number) { kill(pid_, number); }

int SimProcess::wait_exit(std::chrono::milliseconds limit) {
    int status = 0;
    const bool exited = wait_until([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
    if (!exited) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SimProcess::standard_error() const {
    std::ifstream in(folder_ / "stderr.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string status_value(const std::string& status, const std::string& key) {
    const std::string marker = "\"" + key + "\": ";
    const std::size_t at = status.find(marker);
    if (at == std::string::npos) return "";
    const std::size_t start = at + marker.size();
    std::string value = status.substr(start, status.find('\n', start) - start);
    if (!value.empty() && value.back() == ',') value.pop_back();
    return value;
}

double status_number(const std::string& status, const std::string& key) {
    const std::string value = status_value(status, key);
    return value.empty() ? -1 : std::stod(value);
}
