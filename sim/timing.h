// How long the device takes: the flash controllers' busy times, the link's
// delay before each reply and its transfer rate, and the core's clock, which
// gives code started by G its run time.
#pragma once

namespace sim {

struct TimingModel {
    double wp_ms = 0;              // page program with erase
    double wp_noerase_ms = 0;      // page program, NEBP set
    double ea_ms = 0;              // erase all
    double lock_ms = 0;            // SLB, CLB
    double gpnvm_ms = 0;           // SGPB, CGPB, SSB
    double latency_ms = 0;         // per reply, a USB round trip
    double link_bytes_per_ms = 0;  // both directions; 0: bytes take no time
    double cpu_mhz = 0;            // one instruction a cycle; 0: code takes no time

    // Every command completes at once.
    static TimingModel zero() { return {}; }
    // Roughly what the chip's flash, its core at 48 MHz and a USB full-speed
    // link (1 MB/s of bulk data) take.
    static TimingModel realistic() { return {6, 3, 15, 1, 1, 1, 1000, 48}; }
};

}  // namespace sim
