// Serves a Device on a pseudo-terminal: the boot monitor's protocol with the
// timing model's reply latency and transfer rate and the chosen link faults,
// until SIGINT or SIGTERM, or until the link hangs up: after the close-after
// fault, or once a reset has started the firmware. SIGUSR1 writes the status
// report at once.
#pragma once

#include "sim/device.h"
#include "sim/link_faults.h"

#include <filesystem>

namespace sim {

struct ServeOptions {
    std::filesystem::path link;    // symlink to the slave, e.g. DIR/COM7
    std::filesystem::path ready;   // marker present while the link listens; empty: none
    std::filesystem::path status;  // status report; empty: none
    double latency_ms = 0;
    double link_bytes_per_ms = 0;  // 0: bytes take no time
    LinkFaults faults;
};

// Returns the exit code. Throws std::runtime_error when the link cannot be
// set up.
int serve(Device& device, const ServeOptions& options);

}  // namespace sim
