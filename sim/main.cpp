// zelmiran-sim: the virtual ZELMIRAN controller on a pseudo-terminal.
#include "sim/command_line.h"

#include <cstdio>
#include <exception>
#include <stdexcept>

int main(int argc, char** argv) {
    CommandLine line;
    try {
        line = parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "zelmiran-sim: %s (see --help)\n", error.what());
        return 2;
    }
    if (line.help) {
        std::fputs(usage_text, stdout);
        return 0;
    }
    try {
        sim::Device device(line.device);
        return sim::serve(device, line.serve);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zelmiran-sim: %s\n", error.what());
        return 1;
    }
}
