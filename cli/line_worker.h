// One worker of the production line as the line follows it: its process,
// and what its JSON lines have told so far.
#pragma once

#include "cli/child_process.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// The worker's result line: its `--json` object.
struct WorkerResult {
    int exit_code = 0;
    bool stopped = false;
    std::string detail;
};

class LineWorker {
public:
    using Clock = std::chrono::steady_clock;

    // Starts `zelmiran-flash --port PORT --json --worker write IMAGE`.
    LineWorker(const std::string& port, const std::string& image, bool verbose);

    // Takes in what the worker wrote; false once its output has ended.
    bool take_output();
    ChildProcess& process() { return process_; }
    const std::string& port() const { return port_; }

    // Told by the worker.
    bool connected() const { return connected_; }
    const std::string& chip_id() const { return chip_id_; }
    const std::string& step() const { return step_; }
    // The step's percent; empty while its units are unknown.
    std::optional<int> percent() const;
    const std::optional<WorkerResult>& result() const { return result_; }

    Clock::time_point started_at() const { return started_at_; }
    Clock::time_point last_heard() const { return last_heard_; }

    // Set by the line.
    std::optional<unsigned> number;
    bool silenced = false;  // killed by the line for its silence

private:
    void take_line(const std::string& line);

    std::string port_;
    ChildProcess process_;
    std::string pending_;
    bool connected_ = false;
    std::string chip_id_;
    std::string step_;
    int done_ = 0;
    int total_ = 0;
    std::optional<WorkerResult> result_;
    Clock::time_point started_at_ = Clock::now();
    Clock::time_point last_heard_ = Clock::now();
};
