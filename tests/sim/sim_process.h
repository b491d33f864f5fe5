// zelmiran-sim started as its users start it, in a test folder, with its
// port opened and used the way the updater does.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

Bytes to_bytes(const std::string& text);

class SimProcess {
public:
    // Starts the program with --link FOLDER/COM7, --ready and --status in the
    // folder and `arguments`, and waits until it listens. Throws when it
    // does not come up.
    SimProcess(const std::filesystem::path& folder, const std::vector<std::string>& arguments = {});
    // Kills the program if it still runs.
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    std::filesystem::path link() const { return folder_ / "COM7"; }
    std::filesystem::path status_file() const { return folder_ / "status.json"; }

    // As the updater opens it: exclusive, raw, 8N1, queues flushed.
    void open_port();
    void close_port();
    void send(const Bytes& bytes);
    void send(const std::string& text) { send(to_bytes(text)); }
    // What arrives until `count` bytes are there or `limit` passes.
    Bytes receive(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(3));
    // Everything that arrives until the line stays quiet for `quiet`.
    Bytes drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(300));
    // Sends and collects the reply of `count` bytes.
    Bytes ask(const std::string& frame, std::size_t count);
    // True when the port reports a hang-up within `limit`.
    bool hung_up(std::chrono::milliseconds limit);

    // The status report the program writes on SIGUSR1.
    std::string status();
    void signal(int number);
    // Waits for the program's exit; its exit code, or -1 when it did not
    // exit normally within `limit`.
    int wait_exit(std::chrono::milliseconds limit = std::chrono::seconds(10));
    std::string standard_error() const;

private:
    std::filesystem::path folder_;
    pid_t pid_ = -1;
    int port_ = -1;
};

// The number after "key": in a status report, or -1 when the key is missing.
double status_number(const std::string& status, const std::string& key);
// The raw text after "key": up to the end of its line, without the comma.
std::string status_value(const std::string& status, const std::string& key);
