#include "sim/bus.h"

#include <cassert>
#include <cstring>

namespace sim {

namespace {

constexpr std::uint32_t dbgu_sr = 0xFFFFF214;
constexpr std::uint32_t dbgu_thr = 0xFFFFF21C;
constexpr std::uint32_t dbgu_cidr = 0xFFFFF240;
constexpr std::uint32_t dbgu_exid = 0xFFFFF244;
constexpr std::uint32_t rstc_cr = 0xFFFFFD00;
constexpr std::uint32_t rstc_key = 0xA5000000;
constexpr std::uint32_t rstc_key_mask = 0xFF000000;
constexpr std::uint32_t procrst = 1u << 0;
constexpr std::uint32_t mc_puer = 0xFFFFFF54;
constexpr std::uint32_t mc_fmr0 = 0xFFFFFF60;
constexpr std::uint32_t efc_stride = 0x10;
constexpr std::uint32_t fcr_offset = 0x4;
constexpr std::uint32_t fsr_offset = 0x8;

// Characters leave at once, so the transmitter is always ready and empty.
constexpr std::uint32_t txrdy = 1u << 1;
constexpr std::uint32_t txempty = 1u << 9;

std::uint32_t width_mask(unsigned width) { return width >= 4 ? 0xFFFFFFFF : (1u << (8 * width)) - 1; }

// Whether the access lies wholly inside [base, base + size): what may be
// served from the SRAM or flash arrays.
bool inside(std::uint32_t base, std::uint32_t size, std::uint32_t address, unsigned width) {
    return address - base < size && width <= size - (address - base);
}

// The controller whose registers hold `address`, or -1.
int flash_controller_at(std::uint32_t address) {
    const std::uint32_t offset = address - mc_fmr0;
    return offset < controller_count * efc_stride ? static_cast<int>(offset / efc_stride) : -1;
}

}  // namespace

Bus::Bus(FlashStore& store, FlashControllers& controllers, std::uint32_t chip_id)
    : store_(store), controllers_(controllers), chip_id_(chip_id) {}

// Every access is served from one modelled range, or is the chip's
// undefined area (reads 0, writes ignored); the checks stay on in every
// build, since the fuzz targets rely on them.
std::uint32_t Bus::read(std::uint32_t address, unsigned width, Requester who) {
    assert(width == 1 || width == 2 || width == 4);
    address &= ~(width - 1);
    std::uint32_t value = 0;
    if (in_sram(address)) {
        assert(inside(sram_base, sram_size, address, width));
        std::memcpy(&value, sram_.data() + (address - sram_base), width);
    } else if (in_flash(address)) {
        assert(inside(flash_base, flash_size, address, width));
        std::memcpy(&value, store_.bytes() + (address - flash_base), width);
    } else if (in_peripherals(address)) {
        // Registers are words; narrower reads take their lanes.
        value = read_register(address & ~3u, who) >> (8 * (address & 3));
    }
    return value & width_mask(width);
}

void Bus::write(std::uint32_t address, unsigned width, std::uint32_t value) {
    assert(width == 1 || width == 2 || width == 4);
    address &= ~(width - 1);
    value &= width_mask(width);
    if (in_sram(address)) {
        assert(inside(sram_base, sram_size, address, width));
        std::memcpy(sram_.data() + (address - sram_base), &value, width);
    } else if (in_flash(address)) {
        assert(inside(flash_base, flash_size, address, width));
        controllers_.load_latch(address - flash_base, width, value);
    } else if (in_peripherals(address)) {
        write_register(address & ~3u, value << (8 * (address & 3)));
    }
}

std::uint32_t Bus::read_register(std::uint32_t address, Requester who) {
    switch (address) {
    case dbgu_sr: return txrdy | txempty;
    case dbgu_cidr: return chip_id_;
    case dbgu_exid: return 0;
    case mc_puer: return protection_unit_enable_;
    }
    const int controller = flash_controller_at(address);
    if (controller < 0) return 0;
    switch (address % efc_stride) {
    case 0: return controllers_.fmr(controller);
    case fsr_offset: return controllers_.read_fsr(controller, who);
    default: return 0;
    }
}

void Bus::write_register(std::uint32_t address, std::uint32_t value) {
    switch (address) {
    case dbgu_thr: debug_unit_output_.push_back(static_cast<std::uint8_t>(value)); return;
    case mc_puer: protection_unit_enable_ = value; return;
    // Without the key the chip ignores the write; PERRST and EXTRST alone
    // leave the core, and with it the monitor, running.
    case rstc_cr:
        if ((value & rstc_key_mask) == rstc_key && (value & procrst)) reset_requested_ = true;
        return;
    }
    const int controller = flash_controller_at(address);
    if (controller < 0) return;
    switch (address % efc_stride) {
    case 0: controllers_.write_fmr(controller, value); break;
    case fcr_offset: controllers_.write_fcr(controller, value); break;
    default: break;
    }
}

}  // namespace sim
