#include "cli/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct ChildProcess::Handles {
    pid_t pid = -1;
    int output = -1;
    bool started = false;
    std::string failure;
};

namespace {

std::string own_program_path() {
    char path[4096] = "";
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// The spawn's settings, released on every path.
class SpawnSettings {
public:
    SpawnSettings() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSettings() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    // Standard output to `output`, standard input from nothing; a process
    // group of its own, so that the terminal's Ctrl-C reaches the line only;
    // the stop signals as a fresh program has them.
    bool prepare(int output) {
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, number);
        sigset_t none;
        sigemptyset(&none);
        return posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO) == 0 &&
               posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
               posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                                         POSIX_SPAWN_SETSIGMASK) == 0 &&
               posix_spawnattr_setpgroup(&attributes, 0) == 0 &&
               posix_spawnattr_setsigdefault(&attributes, &defaults) == 0 &&
               posix_spawnattr_setsigmask(&attributes, &none) == 0;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

// Both ends closed on exec; only the copy on the child's standard output
// stays open there.
class Pipe {
public:
    Pipe() { created = pipe2(ends, O_CLOEXEC) == 0; }
    ~Pipe() {
        for (const int end : ends)
            if (end >= 0) close(end);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int take_read_end() {
        const int end = ends[0];
        ends[0] = -1;
        return end;
    }

    bool created = false;
    int ends[2] = {-1, -1};
};

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& arguments) : handles_(std::make_unique<Handles>()) {
    const std::string program = own_program_path();
    std::vector<std::string> words = {program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    Pipe pipe;
    SpawnSettings settings;
    if (program.empty() || !pipe.created || !settings.prepare(pipe.ends[1])) {
        handles_->failure = std::strerror(errno);
        return;
    }
    pid_t pid = -1;
    if (const int error = posix_spawn(&pid, program.c_str(), &settings.actions, &settings.attributes, argv.data(),
                                      environ);
        error != 0) {
        handles_->failure = "posix_spawn(" + program + "): " + std::strerror(error);
        return;
    }
    handles_->pid = pid;
    handles_->started = true;
    handles_->output = pipe.take_read_end();
    fcntl(handles_->output, F_SETFL, fcntl(handles_->output, F_GETFL) | O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
    if (handles_->pid > 0) {
        ::kill(handles_->pid, SIGKILL);
        int status = 0;
        while (waitpid(handles_->pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (handles_->output >= 0) close(handles_->output);
}

bool ChildProcess::started() const { return handles_->started; }

const std::string& ChildProcess::failure() const { return handles_->failure; }

unsigned long ChildProcess::id() const { return handles_->pid > 0 ? static_cast<unsigned long>(handles_->pid) : 0; }

bool ChildProcess::read_output(std::string& text) {
    if (handles_->output < 0) return false;
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(handles_->output, buffer, sizeof buffer);
        if (count > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        close(handles_->output);
        handles_->output = -1;
        return false;
    }
}

std::optional<ProcessEnd> ChildProcess::ended() {
    if (handles_->pid <= 0) return std::nullopt;
    int status = 0;
    if (waitpid(handles_->pid, &status, WNOHANG) != handles_->pid) return std::nullopt;
    handles_->pid = -1;
    if (WIFSIGNALED(status)) return ProcessEnd{true, WTERMSIG(status)};
    return ProcessEnd{false, WEXITSTATUS(status)};
}

// A pid of -1 or 0 would signal far more than the worker.
void ChildProcess::ask_to_stop() {
    if (handles_->pid > 0) ::kill(handles_->pid, SIGINT);
}

void ChildProcess::kill() {
    if (handles_->pid > 0) ::kill(handles_->pid, SIGKILL);
}

void wait_for_output(const std::vector<ChildProcess*>& children, int milliseconds) {
    std::vector<pollfd> entries;
    for (ChildProcess* child : children)
        if (child->handles_->output >= 0) entries.push_back({child->handles_->output, POLLIN, 0});
    // A signal cuts the wait short, so that a stop is seen at once.
    poll(entries.data(), entries.size(), milliseconds);
}
