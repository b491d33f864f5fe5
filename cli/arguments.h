// zelmiran-flash's command line.
#pragma once

#include "cli/texts.h"

#include <cstdint>
#include <string>
#include <vector>

enum class Command { info, write, verify, read, boot, line, help, version };

struct Invocation {
    Command command = Command::help;
    std::string command_name;
    std::string port;   // empty: the search of COM1 to COM32
    bool json = false;
    bool quiet = false;
    std::string file;   // IMAGE, or read's FILE
    std::uint32_t size = 512 * 1024;  // read
    unsigned count = 0;               // line; 0: until Ctrl-C
    std::string log;                  // line
};

// False on a usage error, with its message in `problem`; --json and --quiet
// found before the error are kept.
[[nodiscard]] bool parse_arguments(const std::vector<std::string>& arguments, const Texts& texts,
                                   Invocation& invocation, std::string& problem);
