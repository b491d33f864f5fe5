// The device as zelmiran-flash reaches it: the port (named, or found by the
// search), the greeting and the controller check.
#pragma once

#include "cli/exit_code.h"
#include "cli/texts.h"

#include <cstdint>
#include <string>

struct Connection {
    ExitCode code = ExitCode::ok;
    std::string port;         // "COMn" or the path given; empty when none answered
    bool chip_id_read = false;
    std::uint32_t chip_id = 0;
    std::string problem;      // why it failed, for the result's detail
};

// Opens `port_name` (empty: searches COM1 to COM32), greets the monitor and
// checks the controller. On failure the port is closed.
Connection connect_device(const std::string& port_name, const Texts& texts);

// The state the flash controllers' status registers show.
struct FlashBits {
    std::uint32_t lock_bits = 0;  // bit n: region n locked
    int gpnvm[3] = {};
    int security = 0;
};

[[nodiscard]] bool read_flash_bits(FlashBits& bits);
