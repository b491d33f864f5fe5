#include "support/sim_device.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using steady = std::chrono::steady_clock;

// For the start, a status report, and the exit after SIGTERM.
constexpr auto time_limit = std::chrono::seconds(10);

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = steady::now() + limit;
    while (!done()) {
        if (steady::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string read_text(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

SimPaths updater_view(const std::filesystem::path& folder, int port_number) {
    const std::string name = "sim" + std::to_string(port_number);
    return {folder / ("COM" + std::to_string(port_number)), folder / (name + ".ready"), folder / (name + ".json"),
            folder / (name + ".log"), folder / (name + ".flash")};
}

}  // namespace

SimDevice::SimDevice(const SimPaths& paths, const std::vector<std::string>& options) : paths_(paths) {
    std::vector<std::string> arguments = {ZELMIRAN_SIM_PATH,
                                          "--link", paths_.link.string(),
                                          "--ready", paths_.ready.string(),
                                          "--status", paths_.status.string()};
    if (!paths_.flash.empty()) arguments.insert(arguments.end(), {"--flash", paths_.flash.string()});
    arguments.insert(arguments.end(), options.begin(), options.end());
    // Built before the fork, so that the child only calls what is safe there.
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::string log_name = paths_.log.string();
    // The marker of a device started earlier in the folder must not count.
    std::filesystem::remove(paths_.ready);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("cannot start zelmiran-sim");
    if (pid_ == 0) {
        const int log = open(log_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        dup2(log, STDERR_FILENO);
        const int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
        dup2(nothing, STDIN_FILENO);
        dup2(nothing, STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    const bool ready = wait_until([&] { return std::filesystem::exists(paths_.ready) || ended(); }, time_limit);
    if (pid_ < 0) throw std::runtime_error("zelmiran-sim ended at start: " + standard_error());
    if (!ready) {
        stop();
        throw std::runtime_error("zelmiran-sim not ready: " + standard_error());
    }
}

SimDevice::SimDevice(const std::filesystem::path& folder, int port_number, const std::vector<std::string>& options)
    : SimDevice(updater_view(folder, port_number), options) {}

SimDevice::~SimDevice() { stop(); }

bool SimDevice::ended() {
    if (pid_ < 0) return true;
    if (waitpid(pid_, &exit_status_, WNOHANG) != pid_) return false;
    pid_ = -1;
    return true;
}

std::string SimDevice::status() {
    if (!ended()) {
        // The report is renamed into place whole, so being there is enough.
        std::filesystem::remove(paths_.status);
        kill(pid_, SIGUSR1);
        wait_until([&] { return std::filesystem::exists(paths_.status) || ended(); }, time_limit);
    }
    return read_text(paths_.status);
}

std::uint64_t SimDevice::count(const std::string& key) {
    const std::string value = status_value(status(), key);
    if (value.empty()) throw std::runtime_error("no status entry " + key);
    return std::stoull(value);
}

std::vector<std::uint8_t> SimDevice::flash() const {
    const std::string bytes = read_text(paths_.flash);
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::string SimDevice::standard_error() const { return read_text(paths_.log); }

void SimDevice::signal(int number) {
    // A pid of -1 would signal every process of the user.
    if (!ended()) kill(pid_, number);
}

int SimDevice::wait_exit(std::chrono::milliseconds limit) {
    if (!wait_until([&] { return ended(); }, limit)) return -1;
    return WIFEXITED(exit_status_) ? WEXITSTATUS(exit_status_) : -1;
}

void SimDevice::stop() {
    signal(SIGTERM);
    if (wait_until([&] { return ended(); }, time_limit)) return;
    // Stuck: it must not outlive the test.
    kill(pid_, SIGKILL);
    waitpid(pid_, &exit_status_, 0);
    pid_ = -1;
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
