#include "support/run_program.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t nobody = 65534;

// Only async-signal-safe calls after fork: everything the child needs is
// built before it.
[[noreturn]] void exec_child(const char* path, char* const* argv, const char* folder, bool unprivileged,
                             char* const* envp, int in, int out, int err) {
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    if (chdir(folder) != 0) _exit(126);
    if (unprivileged && geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0)) _exit(126);
    execve(path, argv, envp);
    _exit(127);
}

}  // namespace

ProgramRun run_program(const std::string& path, const ProgramOptions& options) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "LC_ALL=C"};
    environment.insert(environment.end(), options.environment.begin(), options.environment.end());
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const std::string folder = options.folder.string();
    std::vector<std::string> arguments = {path};
    arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    // A -1 taken for a child would make the time-out kill every process of the user.
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0)
        exec_child(path.c_str(), argv.data(), folder.c_str(), options.unprivileged, envp.data(), in[0], out[1], err[1]);
    close(in[0]);
    close(out[1]);
    close(err[1]);

    std::signal(SIGPIPE, SIG_IGN);
    std::size_t written = 0;
    if (options.input.empty()) close(in[1]), in[1] = -1;
    if (in[1] >= 0) fcntl(in[1], F_SETFL, O_NONBLOCK);

    ProgramRun run;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + options.limit;
    auto signal_at = options.signal ? Clock::now() + options.signal_after : Clock::time_point::max();
    Clock::time_point signalled = Clock::time_point::max();
    bool out_open = true, err_open = true;
    while (out_open || err_open) {
        if (Clock::now() >= signal_at) {
            kill(child, options.signal);
            signalled = Clock::now();
            signal_at = Clock::time_point::max();
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::min(deadline, signal_at) - Clock::now() + std::chrono::milliseconds(1));
        if (Clock::now() >= deadline) {
            run.timed_out = true;
            kill(child, SIGKILL);
            break;
        }
        pollfd entries[3] = {{out_open ? out[0] : -1, POLLIN, 0},
                             {err_open ? err[0] : -1, POLLIN, 0},
                             {in[1], POLLOUT, 0}};
        if (poll(entries, 3, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(entries[i].revents & (POLLIN | POLLHUP))) continue;
            const ssize_t n = read(entries[i].fd, buffer, sizeof buffer);
            if (n > 0) (i == 0 ? run.out : run.err).append(buffer, static_cast<std::size_t>(n));
            else (i == 0 ? out_open : err_open) = false;
        }
        if (in[1] >= 0 && (entries[2].revents & (POLLOUT | POLLERR))) {
            const ssize_t n = write(in[1], options.input.data() + written, options.input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            if (n < 0 || written == options.input.size()) close(in[1]), in[1] = -1;
        }
    }
    if (signalled != Clock::time_point::max())
        run.after_signal = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - signalled);
    if (in[1] >= 0) close(in[1]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
    return run;
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelmiran-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    std::filesystem::permissions(path_, std::filesystem::perms(0755));
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempFolder::write_file(const std::string& name, const std::string& content) const {
    std::ofstream file(path_ / name, std::ios::binary);
    file << content;
}
