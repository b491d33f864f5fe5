#include "sim/cpu.h"

#include <cstdio>
#include <stdexcept>
#include <unicorn/unicorn.h>
#include <vector>

namespace sim {

namespace {

// Stands for the monitor's code in ROM: target code returns here.
constexpr std::uint32_t return_address = 0x00400000;
constexpr std::uint32_t return_page_size = 0x1000;
constexpr std::uint32_t branch_to_self = 0xEAFFFFFE;

constexpr std::uint32_t supervisor_irq_fiq_masked = 0xD3;
constexpr std::uint32_t thumb_state = 1u << 5;

void check(uc_err error, const char* what) {
    if (error != UC_ERR_OK) throw std::runtime_error(std::string("emulator: ") + what + ": " + uc_strerror(error));
}

void close_engine(uc_struct* engine) { uc_close(engine); }

uc_struct* open_engine() {
    uc_struct* engine = nullptr;
    check(uc_open(UC_ARCH_ARM, UC_MODE_ARM, &engine), "uc_open");
    return engine;
}

std::string hex_word(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

Cpu::Cpu(Bus& bus, std::uint64_t instruction_budget)
    : bus_(bus), budget_(instruction_budget), engine_(open_engine(), &close_engine),
      windows_{Window{&bus, flash_base}, Window{&bus, peripheral_base}} {
    // A strict ARMv4T core: an ARM926 model would quietly run BLX, which the
    // ARM7TDMI does not have.
    check(uc_ctl_set_cpu_model(engine_.get(), static_cast<int>(UC_CPU_ARM_TI925T)), "cpu model");
    map_memory();
    // All hooks before the first start: translated code does not see later ones.
    uc_hook hook;
    check(uc_hook_add(engine_.get(), &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(&Cpu::count_block), this, 1, 0),
          "block hook");
}

void Cpu::map_memory() {
    check(uc_mem_map_ptr(engine_.get(), sram_base, sram_size, UC_PROT_ALL, bus_.sram()), "SRAM");
    // Flash and registers must see every access, so they are I/O windows.
    check(uc_mmio_map(engine_.get(), flash_base, flash_size, &Cpu::read_window, &windows_[0], &Cpu::write_window,
                      &windows_[0]),
          "flash");
    check(uc_mmio_map(engine_.get(), peripheral_base, 0x100000000ull - peripheral_base, &Cpu::read_window, &windows_[1],
                      &Cpu::write_window, &windows_[1]),
          "peripherals");
    check(uc_mem_map(engine_.get(), return_address, return_page_size, UC_PROT_READ | UC_PROT_EXEC), "return page");
    // A jump past the return address stays there and uses up the budget.
    const std::vector<std::uint32_t> loops(return_page_size / 4, branch_to_self);
    check(uc_mem_write(engine_.get(), return_address, loops.data(), return_page_size), "return page");
}

std::uint64_t Cpu::read_window(uc_struct*, std::uint64_t offset, unsigned size, void* window) {
    const auto& w = *static_cast<Window*>(window);
    return w.bus->read(w.base + static_cast<std::uint32_t>(offset), size, Requester::target);
}

void Cpu::write_window(uc_struct*, std::uint64_t offset, unsigned size, std::uint64_t value, void* window) {
    const auto& w = *static_cast<Window*>(window);
    w.bus->write(w.base + static_cast<std::uint32_t>(offset), size, static_cast<std::uint32_t>(value));
}

void Cpu::count_block(uc_struct* engine, std::uint64_t, std::uint32_t size, void* cpu) {
    std::uint32_t cpsr = 0;
    uc_reg_read(engine, UC_ARM_REG_CPSR, &cpsr);
    static_cast<Cpu*>(cpu)->executed_ += cpsr & thumb_state ? size / 2 : size / 4;
}

void Cpu::reset_registers() {
    const std::uint32_t zero = 0, cpsr = supervisor_irq_fiq_masked, sp = stack_top, lr = return_address;
    for (int r = UC_ARM_REG_R0; r <= UC_ARM_REG_R12; ++r) uc_reg_write(engine_.get(), r, &zero);
    // The mode first: SP and LR are banked.
    uc_reg_write(engine_.get(), UC_ARM_REG_CPSR, &cpsr);
    uc_reg_write(engine_.get(), UC_ARM_REG_SP, &sp);
    uc_reg_write(engine_.get(), UC_ARM_REG_LR, &lr);
}

RunResult Cpu::run(std::uint32_t address) {
    reset_registers();
    executed_ = 0;
    // One fixed count for every start: a changed count would not reach code
    // already translated. Both kinds of stop report success, so the PC tells.
    const uc_err error = uc_emu_start(engine_.get(), address & ~3u, return_address, 0, budget_);
    std::uint32_t pc = 0;
    uc_reg_read(engine_.get(), UC_ARM_REG_PC, &pc);
    RunResult result{false, "", std::min(executed_, budget_)};
    if (error != UC_ERR_OK)
        result.reason = std::string(uc_strerror(error)) + " at PC " + hex_word(pc);
    else if (pc != return_address)
        result.reason = "no return within " + std::to_string(budget_) + " instructions, PC " + hex_word(pc);
    else
        result.returned = true;
    return result;
}

void Cpu::forget_code() {
    check(uc_ctl_remove_cache(engine_.get(), static_cast<std::uint64_t>(sram_base), static_cast<std::uint64_t>(stack_top)),
          "cache");
}

}  // namespace sim
