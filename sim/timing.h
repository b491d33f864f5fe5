// How long the device takes: the flash controllers' busy times and the link's
// delay before each reply, in milliseconds.
#pragma once

namespace sim {

struct TimingModel {
    double wp_ms = 0;          // page program with erase
    double wp_noerase_ms = 0;  // page program, NEBP set
    double ea_ms = 0;          // erase all
    double lock_ms = 0;        // SLB, CLB
    double gpnvm_ms = 0;       // SGPB, CGPB, SSB
    double latency_ms = 0;     // per reply, a USB round trip

    // Every command completes at once.
    static TimingModel zero() { return {}; }
    // Roughly what the chip's flash and a USB full-speed link take.
    static TimingModel realistic() { return {6, 3, 15, 1, 1, 1}; }
};

}  // namespace sim
