#include "support/sim_device.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr auto start_limit = std::chrono::seconds(10);
constexpr auto poll_interval = std::chrono::milliseconds(5);

std::string read_text(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

}  // namespace

SimDevice::SimDevice(const std::filesystem::path& folder, int port_number, std::vector<std::string> options)
    : folder_(folder),
      status_file_(folder / ("sim" + std::to_string(port_number) + ".json")),
      flash_file_(folder / ("sim" + std::to_string(port_number) + ".flash")),
      log_file_(folder / ("sim" + std::to_string(port_number) + ".log")) {
    const std::filesystem::path ready = folder / ("sim" + std::to_string(port_number) + ".ready");
    std::filesystem::remove(ready);
    std::vector<std::string> arguments = {ZELMIRAN_SIM_PATH,
                                          "--link", (folder / ("COM" + std::to_string(port_number))).string(),
                                          "--ready", ready.string(),
                                          "--status", status_file_.string(),
                                          "--flash", flash_file_.string()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    pid_ = fork();
    if (pid_ == 0) {
        const int log = open(log_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        dup2(log, STDERR_FILENO);
        const int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
        dup2(nothing, STDIN_FILENO);
        dup2(nothing, STDOUT_FILENO);
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + start_limit;
    while (!std::filesystem::exists(ready)) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("zelmiran-sim ended at start: " + log());
        }
        if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("zelmiran-sim not ready");
        std::this_thread::sleep_for(poll_interval);
    }
}

SimDevice::~SimDevice() { stop(); }

void SimDevice::stop() {
    if (pid_ < 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::map<std::string, std::string> SimDevice::status() {
    if (pid_ >= 0) {
        // Ask for a fresh report and wait until it has been rewritten.
        std::filesystem::remove(status_file_);
        kill(pid_, SIGUSR1);
        const auto deadline = std::chrono::steady_clock::now() + start_limit;
        while (read_text(status_file_).find('}') == std::string::npos &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(poll_interval);
    }
    std::map<std::string, std::string> report;
    static const std::regex entry("\"([^\"]+)\": (\"[^\"]*\"|\\[[^\\]]*\\]|[^,\\n]+)");
    const std::string text = read_text(status_file_);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), entry); it != std::sregex_iterator(); ++it)
        report[(*it)[1]] = (*it)[2];
    return report;
}

std::uint64_t SimDevice::count(const std::string& key) {
    const auto report = status();
    const auto found = report.find(key);
    if (found == report.end()) throw std::runtime_error("no status entry " + key);
    return std::stoull(found->second);
}

std::vector<std::uint8_t> SimDevice::flash() {
    const std::string bytes = read_text(flash_file_);
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::string SimDevice::log() const { return read_text(log_file_); }
