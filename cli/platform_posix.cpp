#include "cli/platform.h"

#include "ui/console_box.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stop_flag = 0;

void note_stop(int) { stop_flag = 1; }

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

void catch_stop_request() {
    struct sigaction action = {};
    action.sa_handler = note_stop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool stop_requested() { return stop_flag != 0; }

bool replace_file(const std::string& from, const std::string& to, std::string& reason) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    reason = std::strerror(errno);
    return false;
}

int terminal_columns(Stream stream) {
    winsize size = {};
    if (ioctl(stream == Stream::out ? STDOUT_FILENO : STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}
