#include "sim/device.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace sim {

namespace {

bool whole_range_in_sram(std::uint32_t address, std::size_t count) {
    return in_sram(address) && count <= sram_base + sram_size - address;
}

bool whole_range_in_flash(std::uint32_t address, std::size_t count) {
    return in_flash(address) && count <= flash_base + flash_size - address;
}

}  // namespace

Device::Device(const DeviceOptions& options)
    : store_(options.flash_file),
      controllers_(store_, options.timing,
                   FlashFaults{options.fsr_never_ready, options.corrupt_address, options.stuck_locks,
                               options.failing_command, options.ignored_locks, options.ignore_gpnvm}),
      bus_(store_, controllers_, options.chip_id),
      // Set up now rather than at the first G, whose reply the updater
      // awaits for only some 150 ms.
      cpu_(bus_, options.instruction_budget),
      cpu_mhz_(options.timing.cpu_mhz),
      skipped_run_(options.skipped_run) {
    NonVolatileBits bits = store_.bits();
    bits.lock_bits |= options.locked_regions | options.stuck_locks;
    store_.set_bits(bits);
}

void Device::note_host_write(std::uint32_t address, std::size_t count) {
    const std::uint64_t start = std::max<std::uint64_t>(address, sram_base);
    const std::uint64_t end = std::min<std::uint64_t>(std::uint64_t{address} + count, stack_top);
    if (start < end) cpu_.forget_code(static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end));
}

// With GPNVM2 set the chip boots its firmware; otherwise the boot program
// in ROM starts the monitor anew, on SRAM it has used for itself. Flash,
// its controllers and the non-volatile bits are left as they were.
void Device::take_reset() {
    if (!bus_.take_reset_request()) return;
    ++resets_;
    if (store_.bits().gpnvm & 0x4) {
        firmware_started_ = true;
        return;
    }
    std::memset(bus_.sram(), 0, sram_size);
    cpu_.forget_code(sram_base, stack_top);
}

void Device::write_memory(std::uint32_t address, const std::uint8_t* data, std::size_t count) {
    if (count == 0) return;
    note_host_write(address, count);
    if (whole_range_in_sram(address, count)) {
        std::memcpy(bus_.sram() + (address - sram_base), data, count);
        return;
    }
    // Bytes cannot carry RSTC_CR's key and PROCRST at once: no reset here.
    for (std::size_t i = 0; i < count; ++i) bus_.write(address + static_cast<std::uint32_t>(i), 1, data[i]);
}

void Device::read_memory(std::uint32_t address, std::uint8_t* data, std::size_t count) {
    if (count == 0) return;
    if (whole_range_in_sram(address, count)) {
        std::memcpy(data, bus_.sram() + (address - sram_base), count);
    } else if (whole_range_in_flash(address, count)) {
        std::memcpy(data, store_.bytes() + (address - flash_base), count);
    } else {
        for (std::size_t i = 0; i < count; ++i)
            data[i] = static_cast<std::uint8_t>(bus_.read(address + static_cast<std::uint32_t>(i), 1, Requester::host));
    }
}

void Device::write(std::uint32_t address, unsigned width, std::uint32_t value) {
    note_host_write(address, width);
    bus_.write(address, width, value);
    take_reset();
}

std::uint32_t Device::read(std::uint32_t address, unsigned width) { return bus_.read(address, width, Requester::host); }

void Device::write_word(std::uint32_t address, std::uint32_t value) { write(address, 4, value); }

std::uint32_t Device::read_word(std::uint32_t address) { return read(address, 4); }

RunResult Device::run(std::uint32_t address) {
    // A start the core never took: the monitor answers as if the code had
    // returned.
    if (skipped_run_ && runs_ + 1 == *skipped_run_) {
        ++runs_;
        skipped_ = true;
        return RunResult{true, {}, 0};
    }
    const double held_before = controllers_.held_ms();
    const auto start = std::chrono::steady_clock::now();
    RunResult result = cpu_.run(address);
    const double wall_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double held_ms = controllers_.held_ms() - held_before;
    const double modelled_ms =
        cpu_mhz_ > 0 ? static_cast<double>(result.instructions + result.flash_reads) / (cpu_mhz_ * 1000) : 0;
    result.device_ms = held_ms + modelled_ms;
    overhead_ms_ += std::max(0.0, wall_ms - result.device_ms);
    modelled_run_ms_ += modelled_ms;
    ++runs_;
    run_instructions_ += result.instructions;
    run_flash_reads_ += result.flash_reads;
    take_reset();
    return result;
}

const std::vector<ControllerCommand>& Device::controller_log() const { return controllers_.log(); }
void Device::clear_controller_log() { controllers_.clear_log(); }
const std::vector<std::uint8_t>& Device::debug_unit_output() const { return bus_.debug_unit_output(); }
std::uint32_t Device::lock_bits() const { return store_.bits().lock_bits; }
std::uint8_t Device::gpnvm_bits() const { return store_.bits().gpnvm; }
bool Device::security_bit() const { return store_.bits().security; }
const std::uint8_t* Device::flash() const { return store_.bytes(); }
std::uint32_t Device::fmr(int controller) const { return controllers_.fmr(controller); }
const ControllerCounters& Device::controller_counters(int controller) const { return controllers_.counters(controller); }
double Device::busy_ms() const { return controllers_.busy_ms(); }
void Device::sync() { store_.sync(); }

std::set<std::string> Device::fired_faults() const {
    std::set<std::string> fired = controllers_.fired();
    if (skipped_) fired.insert("skip-run");
    return fired;
}

}  // namespace sim
