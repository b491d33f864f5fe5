// The ARM7TDMI core, emulated with Unicorn: runs target code from an address
// until it returns to the monitor, faults, or uses up its instruction budget.
//
// Setting up an emulator takes milliseconds, so a Cpu that goes hands its
// emulator to the next one, reset to the state it was set up in. Test
// suites and fuzz targets make a fresh device per case at little cost.
#pragma once

#include "sim/bus.h"

#include <cstdint>
#include <memory>
#include <string>

struct uc_struct;

namespace sim {

struct RunResult {
    bool returned;            // came back to the monitor
    std::string reason;       // why not, when it did not
    std::uint64_t instructions;
    std::uint64_t flash_reads = 0;  // loads from flash, each a wait state
    bool reset = false;       // the code reset the chip through RSTC_CR
    double device_ms = 0;     // modelled: its run time and its waits for busy flash controllers
};

class Cpu {
public:
    // Throws std::runtime_error when the emulator cannot be set up.
    Cpu(Bus& bus, std::uint64_t instruction_budget);
    ~Cpu();
    Cpu(const Cpu&) = delete;
    Cpu& operator=(const Cpu&) = delete;

    // Enters the code at `address` in ARM state, supervisor mode with IRQ and
    // FIQ masked, the stack pointer at the top of SRAM and the link register
    // pointing back into the monitor. A reset the code asks for ends the run
    // at once.
    RunResult run(std::uint32_t address);
    // SRAM in [start, end) was changed from outside: translations of code
    // there must go. Only those: the host writes the applet's mailbox and
    // buffer between runs, and its code stays translated.
    void forget_code(std::uint32_t start, std::uint32_t end);

private:
    struct Engine;
    struct IdleEngines;

    void reset_registers();
    static IdleEngines& idle_engines();
    static std::unique_ptr<Engine> take_engine();
    static std::uint64_t read_window(uc_struct*, std::uint64_t offset, unsigned size, void* window);
    static void write_window(uc_struct*, std::uint64_t offset, unsigned size, std::uint64_t value, void* window);
    static void count_block(uc_struct* engine, std::uint64_t address, std::uint32_t size, void* owner);

    Bus& bus_;
    std::uint64_t budget_;
    std::unique_ptr<Engine> engine_;
    std::uint64_t executed_ = 0;
    std::uint64_t flash_reads_ = 0;
};

}  // namespace sim
