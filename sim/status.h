// The device's status report: a flat JSON object, one key per line, written
// whole (to a new file renamed into place) so that readers never see half.
#pragma once

#include "sim/device.h"
#include "sim/monitor.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

namespace sim {

struct LinkCounters {
    std::uint64_t bytes_in = 0;
    std::uint64_t bytes_out = 0;
    std::uint64_t replies_out = 0;  // replies that sent at least one byte
    double latency_ms = 0;          // modelled link delay, summed
    double transfer_ms = 0;         // modelled time the bytes took, both ways
};

// `link_faults_fired`: the link fault switches that changed a reply.
std::string format_status(const Device& device, const Monitor& monitor, const LinkCounters& link,
                          const std::set<std::string>& link_faults_fired);
// False when the file could not be written.
bool write_status(const std::filesystem::path& file, const std::string& text);

}  // namespace sim
