#include "sim/flash_controllers.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace sim {

namespace {

constexpr std::uint32_t command_key = 0x5A;
constexpr std::uint32_t gpnvm_bit_count = 3;

std::optional<FlashCommand> decode(std::uint8_t code) {
    switch (code) {
    case 0x01: return FlashCommand::WP;
    case 0x02: return FlashCommand::SLB;
    case 0x03: return FlashCommand::WPL;
    case 0x04: return FlashCommand::CLB;
    case 0x08: return FlashCommand::EA;
    case 0x0B: return FlashCommand::SGPB;
    case 0x0D: return FlashCommand::CGPB;
    case 0x0F: return FlashCommand::SSB;
    default: return std::nullopt;
    }
}

std::uint32_t region_of(int controller, std::uint32_t page) {
    return static_cast<std::uint32_t>(controller) * regions_per_bank + page / pages_per_region;
}

std::uint32_t controller_lock_bits(const NonVolatileBits& bits, int controller) {
    return bits.lock_bits >> (regions_per_bank * static_cast<std::uint32_t>(controller)) & 0xFFFF;
}

}  // namespace

const char* flash_command_name(FlashCommand command) {
    static const char* const names[flash_command_count] = {"WP", "WPL", "SLB", "CLB", "EA", "SGPB", "CGPB", "SSB"};
    return names[static_cast<int>(command)];
}

FlashControllers::FlashControllers(FlashStore& store, const TimingModel& timing, const FlashFaults& faults)
    : store_(store), timing_(timing), faults_(faults) {
    for (Controller& controller : controllers_) controller.latch.fill(0xFF);
    if (faults_.corrupt_address && in_flash(*faults_.corrupt_address))
        corrupt_intended_ = store_.bytes()[*faults_.corrupt_address - flash_base];
}

void FlashControllers::write_fmr(int controller, std::uint32_t value) {
    controllers_[controller].fmr = value & fmr::writable;
}

void FlashControllers::write_fcr(int index, std::uint32_t value) {
    Controller& controller = controllers_[index];
    const auto code = static_cast<std::uint8_t>(value & 0x0F);
    const std::uint32_t page = value >> 8 & (pages_per_bank - 1);
    const bool key_ok = value >> 24 == command_key;
    const std::optional<FlashCommand> command = decode(code);
    if (injected_failure(code) || refuses(controller, command, key_ok, page)) {
        controller.proge = true;
        ++controller.counters.proge;
    } else if (touches_locked_region(index, *command, page)) {
        if (*command == FlashCommand::CLB) fired_.insert("stuck-lock");
        controller.locke = true;
        ++controller.counters.locke;
    } else {
        carry_out(index, *command, page);
        ++controller.counters.accepted[static_cast<int>(*command)];
        const double ms = duration_ms(controller, *command);
        busy_ms_ += ms;
        controller.busy_until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double, std::milli>(ms));
    }
    log_.push_back({index, code, page, key_ok, peek_fsr(index)});
}

bool FlashControllers::refuses(const Controller& controller, std::optional<FlashCommand> command, bool key_ok,
                               std::uint32_t argument) const {
    if (!key_ok || !command || busy(controller)) return true;
    const bool gpnvm = *command == FlashCommand::SGPB || *command == FlashCommand::CGPB;
    return gpnvm && argument >= gpnvm_bit_count;
}

bool FlashControllers::injected_failure(std::uint8_t code) {
    const auto& failing = faults_.failing_command;
    if (!failing || failing->code != code || ++failing_code_seen_ != failing->occurrence) return false;
    fired_.insert("fail-command");
    return true;
}

bool FlashControllers::touches_locked_region(int controller, FlashCommand command, std::uint32_t page) const {
    const NonVolatileBits& bits = store_.bits();
    switch (command) {
    case FlashCommand::WP:
    case FlashCommand::WPL: return bits.lock_bits >> region_of(controller, page) & 1;
    case FlashCommand::EA: return controller_lock_bits(bits, controller) != 0;
    case FlashCommand::CLB: return faults_.stuck_locks >> region_of(controller, page) & 1;
    default: return false;
    }
}

void FlashControllers::carry_out(int controller, FlashCommand command, std::uint32_t page) {
    NonVolatileBits bits = store_.bits();
    const std::uint32_t region_bit = 1u << region_of(controller, page);
    const bool erase = !(controllers_[controller].fmr & fmr::nebp);
    switch (command) {
    case FlashCommand::WP: program_page(controller, page, erase); break;
    case FlashCommand::WPL:
        program_page(controller, page, erase);
        bits.lock_bits |= region_bit;
        break;
    case FlashCommand::SLB:
        if (region_bit & faults_.ignored_locks & ~bits.lock_bits) fired_.insert("ignore-lock");
        bits.lock_bits |= region_bit & ~faults_.ignored_locks;
        break;
    case FlashCommand::CLB: bits.lock_bits &= ~region_bit; break;
    case FlashCommand::EA: erase_bank(controller); break;
    case FlashCommand::SGPB:
        if (!faults_.ignore_gpnvm) bits.gpnvm = static_cast<std::uint8_t>(bits.gpnvm | 1u << page);
        else if (!(bits.gpnvm >> page & 1)) fired_.insert("ignore-gpnvm");
        break;
    case FlashCommand::CGPB: bits.gpnvm = static_cast<std::uint8_t>(bits.gpnvm & ~(1u << page)); break;
    case FlashCommand::SSB: bits.security = true; break;
    }
    store_.set_bits(bits);
}

double FlashControllers::duration_ms(const Controller& controller, FlashCommand command) const {
    const double program = controller.fmr & fmr::nebp ? timing_.wp_noerase_ms : timing_.wp_ms;
    switch (command) {
    case FlashCommand::WP: return program;
    case FlashCommand::WPL: return program + timing_.lock_ms;
    case FlashCommand::SLB:
    case FlashCommand::CLB: return timing_.lock_ms;
    case FlashCommand::EA: return timing_.ea_ms;
    default: return timing_.gpnvm_ms;
    }
}

void FlashControllers::program_page(int controller, std::uint32_t page, bool erase) {
    Latch& latch = controllers_[controller].latch;
    const std::uint32_t start = static_cast<std::uint32_t>(controller) * bank_size + page * page_size;
    std::uint8_t* bytes = store_.bytes() + start;
    // Programming can only clear bits; the erase sets them all first.
    for (std::uint32_t i = 0; i < page_size; ++i) bytes[i] = static_cast<std::uint8_t>((erase ? 0xFF : bytes[i]) & latch[i]);
    if (faults_.corrupt_address) {
        const std::uint32_t offset = *faults_.corrupt_address - flash_base - start;
        if (offset < page_size) {
            corrupt_intended_ = static_cast<std::uint8_t>((erase ? 0xFF : corrupt_intended_) & latch[offset]);
            bytes[offset] = static_cast<std::uint8_t>(~corrupt_intended_);
            fired_.insert("corrupt");
        }
    }
    latch.fill(0xFF);
}

void FlashControllers::erase_bank(int controller) {
    const std::uint32_t start = static_cast<std::uint32_t>(controller) * bank_size;
    std::memset(store_.bytes() + start, 0xFF, bank_size);
    if (faults_.corrupt_address && *faults_.corrupt_address - flash_base - start < bank_size) corrupt_intended_ = 0xFF;
    controllers_[controller].latch.fill(0xFF);
}

std::uint32_t FlashControllers::peek_fsr(int index) const {
    const Controller& controller = controllers_[index];
    const NonVolatileBits& bits = store_.bits();
    std::uint32_t value = static_cast<std::uint32_t>(bits.gpnvm) << fsr::gpnvm_shift |
                          controller_lock_bits(bits, index) << fsr::locks_shift;
    if (!faults_.fsr_never_ready && !busy(controller)) value |= fsr::frdy;
    if (controller.locke) value |= fsr::locke;
    if (controller.proge) value |= fsr::proge;
    if (bits.security) value |= fsr::security;
    return value;
}

std::uint32_t FlashControllers::read_fsr(int index, Requester who) {
    Controller& controller = controllers_[index];
    const std::uint32_t value = peek_fsr(index);
    if (faults_.fsr_never_ready) fired_.insert("fsr-never-ready");
    controller.locke = false;
    controller.proge = false;
    // Target code can only poll until the command is done: hold it there in
    // one sleep, which keeps the emulated loop short and the timing close.
    if (who == Requester::target && busy(controller)) {
        const Clock::time_point start = Clock::now();
        std::this_thread::sleep_until(controller.busy_until);
        held_ms_ += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    return value;
}

void FlashControllers::load_latch(std::uint32_t flash_offset, unsigned width, std::uint32_t value) {
    Latch& latch = controllers_[flash_offset / bank_size].latch;
    const std::uint32_t position = flash_offset % page_size;
    for (unsigned i = 0; i < width; ++i)
        latch[(position + i) % page_size] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace sim
