// One command's result as zelmiran-flash reports it: a line of text, or one
// JSON object, on standard output.
#pragma once

#include "cli/exit_code.h"
#include "device/connection.h"
#include "cli/image_file.h"
#include "flash/flash_controller.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ImageFacts {
    std::string path;
    std::string format;
    std::size_t bytes = 0;
    std::string sha256;
};

struct InfoFacts {
    bool controller_ok = false;
    std::optional<std::uint32_t> chip_id;
    std::optional<FlashState> bits;
};

// write: what the write did.
struct WrittenFacts {
    int blocks_written = 0;
    int blocks_unchanged = 0;
};

// verify by checksum: the first block that differs and how many do.
struct BlockDifference {
    std::uint32_t first_block_start = 0;
    std::uint32_t first_block_end = 0;
    int blocks = 0;
};

struct Difference {
    std::uint32_t address = 0;
    unsigned image_byte = 0;
    unsigned flash_byte = 0;
    std::size_t count = 0;
};

// check: what an image gives the flash and what a write of it does.
struct ImageSummary {
    std::string format;
    std::vector<AddressRange> ranges;
    std::size_t blocks = 0;        // the 1 KiB blocks it gives bytes to
    std::size_t bytes = 0;         // the bytes it gives, gaps left out
    std::string sha256;
    std::size_t write_blocks = 0;  // of those blocks, the ones an erased device lacks
};

struct CommandResult {
    std::string command;
    std::optional<unsigned> number;  // line: the device's number, from 1
    ExitCode code = ExitCode::ok;
    std::string port;
    double seconds = 0;
    bool stopped = false;  // a signal stopped the command; `code` tells which
    std::string detail;    // the reason on failure or stop, what was done on success
    std::optional<ImageFacts> image;
    std::optional<InfoFacts> info;
    std::optional<Difference> difference;
    std::optional<BlockDifference> block_difference;
    std::optional<WrittenFacts> written;
    std::optional<std::vector<PortReport>> ports;  // list
    std::optional<std::string> file;  // read: the file written
    std::optional<std::size_t> bytes; // read: the bytes saved
    std::optional<ImageSummary> summary;  // check
};

std::string result_json(const CommandResult& result);
