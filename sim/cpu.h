// The ARM7TDMI core, emulated with Unicorn: runs target code from an address
// until it returns to the monitor, faults, or uses up its instruction budget.
#pragma once

#include "sim/bus.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

struct uc_struct;

namespace sim {

struct RunResult {
    bool returned;            // came back to the monitor
    std::string reason;       // why not, when it did not
    std::uint64_t instructions;
};

class Cpu {
public:
    // Throws std::runtime_error when the emulator cannot be set up.
    Cpu(Bus& bus, std::uint64_t instruction_budget);
    Cpu(const Cpu&) = delete;
    Cpu& operator=(const Cpu&) = delete;

    // Enters the code at `address` in ARM state, supervisor mode with IRQ and
    // FIQ masked, the stack pointer at the top of SRAM and the link register
    // pointing back into the monitor.
    RunResult run(std::uint32_t address);
    // SRAM was changed from outside: translations of old code must go.
    void forget_code();

private:
    // A window of the address space that Unicorn passes through to the bus.
    struct Window {
        Bus* bus;
        std::uint32_t base;
    };

    void map_memory();
    void reset_registers();
    static std::uint64_t read_window(uc_struct*, std::uint64_t offset, unsigned size, void* window);
    static void write_window(uc_struct*, std::uint64_t offset, unsigned size, std::uint64_t value, void* window);
    static void count_block(uc_struct* engine, std::uint64_t address, std::uint32_t size, void* cpu);

    Bus& bus_;
    std::uint64_t budget_;
    std::unique_ptr<uc_struct, void (*)(uc_struct*)> engine_;
    std::array<Window, 2> windows_;
    std::uint64_t executed_ = 0;
};

}  // namespace sim
