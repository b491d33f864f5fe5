#include "cli/platform.h"

#include "ui/console_box.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/ioctl.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <unistd.h>

namespace {

constexpr long again_within_ms = 2000;

volatile std::sig_atomic_t signals_seen = 0;
volatile std::sig_atomic_t first_signal = 0;
int patient = 1;
timespec last_signal_at{};

// Two buffers for each text, so that the handler never reads one half
// written: the one in use is switched only once the other is whole.
struct SignalText {
    char text[2][4096] = {};
    volatile std::sig_atomic_t in_use = 0;

    void set(const std::string& value) {
        const int next = 1 - in_use;
        const std::size_t length = std::min(value.size(), sizeof text[next] - 1);
        std::memcpy(text[next], value.data(), length);
        text[next][length] = '\0';
        in_use = next;
    }
    const char* get() const { return text[in_use]; }
};

SignalText last_words;
SignalText unfinished_file;

long milliseconds_between(const timespec& from, const timespec& to) {
    return (to.tv_sec - from.tv_sec) * 1000 + (to.tv_nsec - from.tv_nsec) / 1000000;
}

// Only async-signal-safe calls.
void on_stop_signal(int number) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const bool again = signals_seen >= patient && milliseconds_between(last_signal_at, now) < again_within_ms;
    last_signal_at = now;
    if (first_signal == 0) first_signal = number;
    signals_seen = signals_seen + 1;
    if (!again) return;
    const char* words = last_words.get();
    if (write(STDERR_FILENO, words, std::strlen(words)) < 0) {
        // Nothing more can be said.
    }
    if (*unfinished_file.get()) unlink(unfinished_file.get());
    _exit(128 + number);
}

}  // namespace

Language user_language() {
    return dialogue_language() == DialogueLanguage::russian ? Language::russian : Language::english;
}

std::vector<std::string> program_arguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

bool is_terminal(Stream stream) { return isatty(stream == Stream::out ? STDOUT_FILENO : STDERR_FILENO) == 1; }

void write_text(Stream stream, const std::string& text) {
    std::FILE* file = stream == Stream::out ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fflush(file);
}

void prepare_binary_output() { std::signal(SIGPIPE, SIG_IGN); }

bool write_binary_output(const unsigned char* bytes, std::size_t count, std::string& reason) {
    while (count > 0) {
        const ssize_t written = write(STDOUT_FILENO, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            reason = std::strerror(errno);
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

void catch_stop_signals(int patient_stops) {
    patient = patient_stops;
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, number);
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
}

void stop_when_line_ends() {
    std::signal(SIGPIPE, SIG_IGN);
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGINT);
#endif
}

int stops_asked() { return signals_seen; }

int stop_signal() { return first_signal; }

void set_last_words(const std::string& words) { last_words.set(words); }

void set_unfinished_file(const std::string& path) { unfinished_file.set(path); }

bool replace_file(const std::string& from, const std::string& to, std::string& reason) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    reason = std::strerror(errno);
    return false;
}

bool terminal_sequences(Stream stream) {
    const char* term = std::getenv("TERM");
    return is_terminal(stream) && term && *term && std::strcmp(term, "dumb") != 0;
}

std::string host_name() {
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

unsigned long process_id() { return static_cast<unsigned long>(getpid()); }

int terminal_columns(Stream stream) {
    winsize size = {};
    if (ioctl(stream == Stream::out ? STDOUT_FILENO : STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}
