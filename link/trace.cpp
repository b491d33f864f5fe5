#include "link/trace.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const auto trace_origin = std::chrono::steady_clock::now();

void print_stamp() {
    const auto elapsed = std::chrono::steady_clock::now() - trace_origin;
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    std::fprintf(stderr, "[%8lld ms] ", ms);
}

// Read from the environment once, the first time it is asked for.
bool& trace_switch() {
    static bool on = [] {
        const char* value = std::getenv("ZELMIRAN_TRACE");
        return value && std::strcmp(value, "1") == 0;
    }();
    return on;
}

}  // namespace

bool link_trace_on() { return trace_switch(); }

void switch_link_trace_on() { trace_switch() = true; }

void trace_bytes(const char* direction, const unsigned char* data, std::size_t count) {
    if (!link_trace_on() || count == 0) return;
    constexpr std::size_t per_line = 16;
    for (std::size_t line = 0; line < count; line += per_line) {
        print_stamp();
        std::fprintf(stderr, "%s %04zx ", direction, line);
        for (std::size_t i = line; i < line + per_line; ++i) {
            if (i < count) std::fprintf(stderr, " %02X", data[i]);
            else std::fputs("   ", stderr);
        }
        std::fputs("  |", stderr);
        for (std::size_t i = line; i < line + per_line && i < count; ++i)
            std::fputc(data[i] >= 0x20 && data[i] < 0x7F ? data[i] : '.', stderr);
        std::fputs("|\n", stderr);
    }
}

void trace_note(const char* format, ...) {
    if (!link_trace_on()) return;
    print_stamp();
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}
