// The virtual device as the tests use it: zelmiran-sim started as a child
// process with its port linked in a folder and its standard error in a log
// file, asked for its status report, and stopped at the end of the test.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// Where the program links its port and keeps its files.
struct SimPaths {
    std::filesystem::path link;
    std::filesystem::path ready;
    std::filesystem::path status;
    std::filesystem::path log;
    std::filesystem::path flash;  // empty: the flash lives in memory only
};

class SimDevice {
public:
    // Starts the program on `paths`, with `options` (faults, timing, chip id)
    // after them. Throws when it ends or is not ready within ten seconds.
    explicit SimDevice(const SimPaths& paths, const std::vector<std::string>& options = {});
    // As the updater finds it: FOLDER/COMn, its files as FOLDER/simN.*, flash
    // in a file.
    SimDevice(const std::filesystem::path& folder, int port_number, const std::vector<std::string>& options = {});
    // Stops the program if it still runs.
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    const std::filesystem::path& link() const { return paths_.link; }
    const std::filesystem::path& status_file() const { return paths_.status; }

    // The status report: a fresh one (SIGUSR1) while the program runs, else
    // the one it wrote at exit; empty when there is none.
    std::string status();
    // A whole number of a fresh report; throws when the key is missing.
    std::uint64_t count(const std::string& key);
    // The flash file's contents.
    std::vector<std::uint8_t> flash() const;
    std::string standard_error() const;

    void signal(int number);
    // Waits for the program's exit; its exit code, or -1 when it did not
    // exit normally within `limit`.
    int wait_exit(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // SIGTERM and the wait for the exit, SIGKILL after ten seconds; its
    // files stay.
    void stop();

private:
    // Reaps the program if it has ended, keeping its exit status.
    bool ended();

    SimPaths paths_;
    pid_t pid_ = -1;
    int exit_status_ = 0;
};

// The raw text after "key": in a status report, up to the end of its line and
// without the comma; empty when the key is missing.
std::string status_value(const std::string& status, const std::string& key);
// That text as a number, or -1 when the key is missing.
double status_number(const std::string& status, const std::string& key);
