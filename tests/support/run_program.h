// Runs a program as an operator would: in a folder, with its own
// environment, answers on standard input, and a time limit.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

struct ProgramRun {
    int exit_code = -1;  // -1 when it did not exit normally
    bool timed_out = false;
    // From the signal (ProgramOptions::signal) to the end of the output.
    std::chrono::milliseconds after_signal{0};
    std::string out;
    std::string err;
};

struct ProgramOptions {
    std::filesystem::path folder;
    std::vector<std::string> arguments;  // after the program's name
    // Added to a minimal environment (PATH and LC_ALL=C).
    std::vector<std::string> environment;
    std::string input;
    std::chrono::milliseconds limit{20000};
    // Run under the unprivileged user "nobody" when started as root.
    bool unprivileged = false;
    // A signal sent to the program `signal_after` from its start; 0: none.
    int signal = 0;
    std::chrono::milliseconds signal_after{0};
};

ProgramRun run_program(const std::string& path, const ProgramOptions& options);

// A fresh folder, removed with everything in it at the end of the test.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    void write_file(const std::string& name, const std::string& content) const;

private:
    std::filesystem::path path_;
};
