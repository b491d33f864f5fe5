// The virtual ZELMIRAN controller: an AT91SAM7SE512 with 512 KiB of flash in
// two banks behind their flash controllers, 32 KiB of SRAM, the debug unit's
// identification and transmit registers, and an ARM7TDMI core that runs code
// from SRAM. Everything the boot monitor does to the chip is offered here,
// for the monitor on the pseudo-terminal and for tests in-process alike.
#pragma once

#include "sim/bus.h"
#include "sim/cpu.h"
#include "sim/flash_controllers.h"
#include "sim/flash_store.h"
#include "sim/timing.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sim {

struct DeviceOptions {
    std::string flash_file;            // empty: flash in memory, erased, unlocked
    std::uint32_t chip_id = 0x272A0A40;
    TimingModel timing = TimingModel::zero();
    std::uint32_t locked_regions = 0;  // bit r: region r locked at start
    bool fsr_never_ready = false;
    std::optional<std::uint32_t> corrupt_address;
    std::uint32_t stuck_locks = 0;     // bit r: region r locked for good, CLB refused
    std::optional<FailingCommand> failing_command;
    std::uint32_t ignored_locks = 0;   // bit r: SLB on region r acknowledged, bit left clear
    bool ignore_gpnvm = false;         // SGPB acknowledged, bit left clear
    std::optional<std::uint64_t> skipped_run;  // this G (from 1) returns without running
    std::uint64_t instruction_budget = 5'000'000;
};

class Device {
public:
    // Throws std::runtime_error when the flash file cannot be used.
    explicit Device(const DeviceOptions& options);
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    void write_memory(std::uint32_t address, const std::uint8_t* data, std::size_t count);  // as the monitor's S
    void read_memory(std::uint32_t address, std::uint8_t* data, std::size_t count);         // as R
    void write_word(std::uint32_t address, std::uint32_t value);  // as W (peripherals included)
    std::uint32_t read_word(std::uint32_t address);               // as w
    // Any width of 1, 2 or 4 bytes, as O/H/W and o/h/w.
    void write(std::uint32_t address, unsigned width, std::uint32_t value);
    std::uint32_t read(std::uint32_t address, unsigned width);
    RunResult run(std::uint32_t address);                         // as G

    const std::vector<ControllerCommand>& controller_log() const;  // every MC_FCR write, in order
    void clear_controller_log();
    const std::vector<std::uint8_t>& debug_unit_output() const;
    std::uint32_t lock_bits() const;   // bit r: region r locked
    std::uint8_t gpnvm_bits() const;   // bits 0-2
    bool security_bit() const;
    const std::uint8_t* flash() const; // 512 KiB, bank 0 then bank 1
    std::uint32_t fmr(int controller) const;

    const ControllerCounters& controller_counters(int controller) const;
    // Modelled time the flash controllers were busy.
    double busy_ms() const;
    std::uint64_t runs() const { return runs_; }
    std::uint64_t run_instructions() const { return run_instructions_; }
    std::uint64_t run_flash_reads() const { return run_flash_reads_; }
    // Modelled time code started by G ran: a cycle per instruction and per
    // flash wait state at the timing model's clock.
    double run_ms() const { return modelled_run_ms_; }
    // Real time spent emulating code started by G beyond its modelled run
    // time and its waits for busy flash controllers (both modelled device
    // time): the virtual device's own overhead, which a real chip does not
    // have.
    double emulation_ms() const { return overhead_ms_; }

    // Keyed writes to RSTC_CR with PROCRST, by the host or by code.
    std::uint64_t resets() const { return resets_; }
    // A reset found GPNVM2 set: the chip booted from flash, and the boot
    // monitor is gone for good.
    bool firmware_started() const { return firmware_started_; }
    // Pushes the flash contents to the flash file now.
    void sync();
    // The fault switches that have acted on the chip so far, by option name.
    std::set<std::string> fired_faults() const;

private:
    // Host writes into SRAM: code translated from those bytes must go.
    void note_host_write(std::uint32_t address, std::size_t count);
    void take_reset();

    FlashStore store_;
    FlashControllers controllers_;
    Bus bus_;
    Cpu cpu_;
    double cpu_mhz_;
    std::optional<std::uint64_t> skipped_run_;
    bool skipped_ = false;
    std::uint64_t runs_ = 0;
    std::uint64_t run_instructions_ = 0;
    std::uint64_t run_flash_reads_ = 0;
    double modelled_run_ms_ = 0;
    double overhead_ms_ = 0;
    std::uint64_t resets_ = 0;
    bool firmware_started_ = false;
};

}  // namespace sim
