// The target's address space as both the host (through the monitor) and code
// running on the target see it: SRAM, flash behind its controllers, and the
// registers of the debug unit, the memory controller and the reset
// controller's command register. Unmapped reads give
// 0 and unmapped writes are ignored.
#pragma once

#include "sim/flash_controllers.h"
#include "sim/flash_store.h"

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace sim {

class Bus {
public:
    Bus(FlashStore& store, FlashControllers& controllers, std::uint32_t chip_id);

    // Accesses of 1, 2 or 4 bytes; the low address bits below the width are
    // ignored, as the ARM7TDMI ignores them.
    std::uint32_t read(std::uint32_t address, unsigned width, Requester who);
    void write(std::uint32_t address, unsigned width, std::uint32_t value);

    std::uint8_t* sram() { return sram_.data(); }
    // A keyed write to RSTC_CR with PROCRST came and has not been taken.
    bool reset_requested() const { return reset_requested_; }
    bool take_reset_request() { return std::exchange(reset_requested_, false); }
    const std::vector<std::uint8_t>& debug_unit_output() const { return debug_unit_output_; }

private:
    std::uint32_t read_register(std::uint32_t address, Requester who);
    void write_register(std::uint32_t address, std::uint32_t value);

    FlashStore& store_;
    FlashControllers& controllers_;
    std::uint32_t chip_id_;
    std::uint32_t protection_unit_enable_ = 0;
    bool reset_requested_ = false;
    std::vector<std::uint8_t> debug_unit_output_;
    std::array<std::uint8_t, sram_size> sram_{};
};

}  // namespace sim
