// The production line's workers: the flasher itself started again, one
// process per device, its standard output on a pipe to the line
// (child_process_posix.cpp, child_process_win32.cpp; not "process.h", which
// would hide MinGW's header of that name). A process of its own per device
// keeps a crash or a hang on one device away from the others.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct ProcessEnd {
    bool signalled = false;  // POSIX: ended by a signal, `code` its number
    int code = 0;            // the exit code otherwise
};

// Owns the process's handles and its output pipe: the destructor closes
// them on every path, and kills and waits for a process still running.
class ChildProcess {
public:
    // Starts the running program with `arguments` (after its name): standard
    // output to a pipe read here, standard error shared with this process,
    // standard input the stop channel on Windows and nothing on POSIX. Out
    // of reach of the terminal's Ctrl-C, which only the line takes.
    explicit ChildProcess(const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // False with the system's reason in failure() when it could not start.
    [[nodiscard]] bool started() const;
    const std::string& failure() const;
    [[nodiscard]] unsigned long id() const;

    // Appends what the process wrote since the last call, without waiting;
    // false once its output has ended.
    [[nodiscard]] bool read_output(std::string& text);
    // Its end, once it has ended; reaped then.
    [[nodiscard]] std::optional<ProcessEnd> ended();
    // A stop at its next safe point: SIGINT on POSIX; on Windows its
    // standard input is closed.
    void ask_to_stop();
    // At once: SIGKILL, TerminateProcess.
    void kill();

    struct Handles;

private:
    friend void wait_for_output(const std::vector<ChildProcess*>& children, int milliseconds);

    std::unique_ptr<Handles> handles_;
};

// Waits until one of `children` has output (or has ended), a signal comes,
// or `milliseconds` pass.
void wait_for_output(const std::vector<ChildProcess*>& children, int milliseconds);
