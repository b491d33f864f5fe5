// zelmiran-flash's command line.
#pragma once

#include "cli/texts.h"
#include "flash/geometry.h"

#include <cstdint>
#include <string>
#include <vector>

enum class Command { info, write, verify, read, boot, line, check, list, help, version };

struct Invocation {
    Command command = Command::help;
    std::string command_name;
    std::string port;   // empty: the search of COM1 to COM32
    bool json = false;
    bool quiet = false;
    bool verbose = false;  // the link trace on standard error
    std::string file;   // IMAGE, or read's FILE; "-": standard input, for read standard output
    // write, verify, check: where a raw binary goes; read: the first address read.
    std::uint32_t address = flash_base;
    bool address_given = false;  // an image with addresses of its own is then refused
    std::uint32_t size = flash_size;  // read: from `address`; without --size, to the flash's end
    bool full = false;       // write: every block of both banks, changed or not
    bool keep_rest = false;  // write, verify: the flash outside the image's blocks is left out
    bool read_back = false;  // verify: every byte read and compared, not block checksums
    bool run = false;        // write, boot: the controller restarted into its firmware at the end
    unsigned count = 0;      // line; 0: until Ctrl-C
    std::string log;         // line
    std::vector<std::string> ports;  // line: the ports watched; empty: --port, or COM1 to COM32
    unsigned jobs = 0;       // line: devices programmed at once; 0: no cap
    std::string station;     // line: the log's station; empty: the host name
    // write, not in the usage: a worker of the line, telling its progress as
    // JSON lines on standard output before its result.
    bool worker = false;
};

// False on a usage error, with its message in `problem`; --json and --quiet
// found before the error are kept.
[[nodiscard]] bool parse_arguments(const std::vector<std::string>& arguments, const Texts& texts,
                                   Invocation& invocation, std::string& problem);
