#include "sim/cpu.h"

#include <array>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <unicorn/unicorn.h>
#include <vector>

namespace sim {

namespace {

// Stands for the monitor's code in ROM: target code returns here.
constexpr std::uint32_t return_address = 0x00400000;
constexpr std::uint32_t return_page_size = 0x1000;
constexpr std::uint32_t branch_to_self = 0xEAFFFFFE;

// Each device an engine serves leaves its translations dead in the
// emulator's code buffer, which is only reclaimed when full, at a gigabyte:
// after this many devices the engine is closed rather than handed on.
constexpr int devices_per_engine = 500;

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

// An emulator set up for the chip's memory map, apart from SRAM, which each
// Cpu maps from its own bus. Flash and registers reach the bus of the Cpu
// that holds the engine.
struct Cpu::Engine {
    struct Window {
        Engine* engine;
        std::uint32_t base;
    };

    Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    ~Engine() { uc_context_free(set_up); }

    std::unique_ptr<uc_struct, void (*)(uc_struct*)> uc;
    uc_context* set_up = nullptr;  // the core before any code ran
    Cpu* owner = nullptr;
    std::array<Window, 2> windows;
    int devices_served = 0;
};

Cpu::Engine::Engine() : uc(open_engine(), &close_engine), windows{Window{this, flash_base}, Window{this, peripheral_base}} {
    uc_struct* engine = uc.get();
    // A strict ARMv4T core: an ARM926 model would quietly run BLX, which the
    // ARM7TDMI does not have.
    check(uc_ctl_set_cpu_model(engine, static_cast<int>(UC_CPU_ARM_TI925T)), "cpu model");
    // Flash and registers must see every access, so they are I/O windows.
    check(uc_mmio_map(engine, flash_base, flash_size, &Cpu::read_window, &windows[0], &Cpu::write_window,
                      &windows[0]),
          "flash");
    check(uc_mmio_map(engine, peripheral_base, 0x100000000ull - peripheral_base, &Cpu::read_window, &windows[1],
                      &Cpu::write_window, &windows[1]),
          "peripherals");
    check(uc_mem_map(engine, return_address, return_page_size, UC_PROT_READ | UC_PROT_EXEC), "return page");
    // A jump past the return address stays there and uses up the budget.
    const std::vector<std::uint32_t> loops(return_page_size / 4, branch_to_self);
    check(uc_mem_write(engine, return_address, loops.data(), return_page_size), "return page");
    // All hooks before the first start: translated code does not see later ones.
    uc_hook hook;
    check(uc_hook_add(engine, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(&Cpu::count_block), this, 1, 0),
          "block hook");
    check(uc_context_alloc(engine, &set_up), "context");
    check(uc_context_save(engine, set_up), "context");
}

struct Cpu::IdleEngines {
    std::mutex mutex;
    std::vector<std::unique_ptr<Engine>> engines;
};

Cpu::IdleEngines& Cpu::idle_engines() {
    // Never destroyed, so that a Cpu that outlives the statics can still
    // give its engine back.
    static IdleEngines& idle = *new IdleEngines;
    return idle;
}

std::unique_ptr<Cpu::Engine> Cpu::take_engine() {
    IdleEngines& idle = idle_engines();
    const std::lock_guard<std::mutex> lock(idle.mutex);
    if (idle.engines.empty()) return std::make_unique<Engine>();
    std::unique_ptr<Engine> engine = std::move(idle.engines.back());
    idle.engines.pop_back();
    return engine;
}

Cpu::Cpu(Bus& bus, std::uint64_t instruction_budget)
    : bus_(bus), budget_(instruction_budget), engine_(take_engine()) {
    check(uc_mem_map_ptr(engine_->uc.get(), sram_base, sram_size, UC_PROT_ALL, bus_.sram()), "SRAM");
    engine_->owner = this;
}

Cpu::~Cpu() {
    uc_struct* engine = engine_->uc.get();
    // Nothing of this device may reach the next: its code, its SRAM, the
    // core's state (modes, coprocessor registers).
    uc_ctl_remove_cache(engine, static_cast<std::uint64_t>(sram_base), static_cast<std::uint64_t>(stack_top));
    const bool reusable = ++engine_->devices_served < devices_per_engine &&
                          uc_mem_unmap(engine, sram_base, sram_size) == UC_ERR_OK &&
                          uc_context_restore(engine, engine_->set_up) == UC_ERR_OK;
    if (!reusable) return;
    engine_->owner = nullptr;
    IdleEngines& idle = idle_engines();
    const std::lock_guard<std::mutex> lock(idle.mutex);
    idle.engines.push_back(std::move(engine_));
}

std::uint64_t Cpu::read_window(uc_struct*, std::uint64_t offset, unsigned size, void* window) {
    const auto& w = *static_cast<Engine::Window*>(window);
    Cpu& cpu = *w.engine->owner;
    // Code runs from SRAM, so only loads reach flash; each costs a wait state.
    if (w.base == flash_base) ++cpu.flash_reads_;
    return cpu.bus_.read(w.base + static_cast<std::uint32_t>(offset), size, Requester::target);
}

void Cpu::write_window(uc_struct* engine, std::uint64_t offset, unsigned size, std::uint64_t value, void* window) {
    const auto& w = *static_cast<Engine::Window*>(window);
    Bus& bus = w.engine->owner->bus_;
    bus.write(w.base + static_cast<std::uint32_t>(offset), size, static_cast<std::uint32_t>(value));
    if (bus.reset_requested()) uc_emu_stop(engine);
}

void Cpu::count_block(uc_struct* engine, std::uint64_t, std::uint32_t size, void* owner) {
    std::uint32_t cpsr = 0;
    uc_reg_read(engine, UC_ARM_REG_CPSR, &cpsr);
    static_cast<Engine*>(owner)->owner->executed_ += cpsr & thumb_state ? size / 2 : size / 4;
}

void Cpu::reset_registers() {
    const std::uint32_t zero = 0, cpsr = supervisor_irq_fiq_masked, sp = stack_top, lr = return_address;
    for (int r = UC_ARM_REG_R0; r <= UC_ARM_REG_R12; ++r) uc_reg_write(engine_->uc.get(), r, &zero);
    // The mode first: SP and LR are banked.
    uc_reg_write(engine_->uc.get(), UC_ARM_REG_CPSR, &cpsr);
    uc_reg_write(engine_->uc.get(), UC_ARM_REG_SP, &sp);
    uc_reg_write(engine_->uc.get(), UC_ARM_REG_LR, &lr);
}

RunResult Cpu::run(std::uint32_t address) {
    reset_registers();
    executed_ = 0;
    flash_reads_ = 0;
    // One fixed count for every start: a changed count would not reach code
    // already translated. Both kinds of stop report success, so the PC tells.
    const uc_err error = uc_emu_start(engine_->uc.get(), address & ~3u, return_address, 0, budget_);
    std::uint32_t pc = 0;
    uc_reg_read(engine_->uc.get(), UC_ARM_REG_PC, &pc);
    RunResult result{false, "", std::min(executed_, budget_), flash_reads_};
    if (bus_.reset_requested())
        result.reset = true;
    else if (error != UC_ERR_OK)
        result.reason = std::string(uc_strerror(error)) + " at PC " + hex_word(pc);
    else if (pc != return_address)
        result.reason = "no return within " + std::to_string(budget_) + " instructions, PC " + hex_word(pc);
    else
        result.returned = true;
    return result;
}

void Cpu::forget_code(std::uint32_t start, std::uint32_t end) {
    check(uc_ctl_remove_cache(engine_->uc.get(), std::uint64_t{start}, std::uint64_t{end}), "cache");
}

}  // namespace sim
