// The virtual device as the updater's tests use it: zelmiran-sim started on a
// pseudo-terminal linked as FOLDER/COMn, with its flash in a file, stopped
// at the end of the test, and its status report read back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

class SimDevice {
public:
    // `options` are further command-line switches (faults, timing, chip id).
    SimDevice(const std::filesystem::path& folder, int port_number, std::vector<std::string> options = {});
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    // Stops the device (SIGTERM) and waits for it; its files stay.
    void stop();
    // The status report: written on request while running, or at stop.
    std::map<std::string, std::string> status();
    std::uint64_t count(const std::string& key);
    // The flash contents, 512 KiB.
    std::vector<std::uint8_t> flash();
    // What the device wrote on its standard error.
    std::string log() const;

private:
    std::filesystem::path folder_;
    std::filesystem::path status_file_;
    std::filesystem::path flash_file_;
    std::filesystem::path log_file_;
    pid_t pid_ = -1;
};
