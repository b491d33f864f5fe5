// Hand-assembled ARM and Thumb instructions for small routines run in the
// virtual device, so its tests need no cross assembler.
#pragma once

#include "sim/device.h"

#include <cstdint>
#include <vector>

namespace arm {

constexpr int lr = 14;
constexpr int pc = 15;

std::uint32_t mov_imm(int rd, std::uint8_t value);                     // MOV rd, #value
std::uint32_t mov(int rd, int rm);                                     // MOV rd, rm
std::uint32_t add_imm(int rd, int rn, std::uint8_t value);             // ADD rd, rn, #value
std::uint32_t ldr_pc(int rd, std::uint32_t at, std::uint32_t literal); // LDR rd, [pc, #..] of the word at `literal`
std::uint32_t ldr(int rd, int rn, std::uint16_t offset);               // LDR rd, [rn, #offset]
std::uint32_t str(int rd, int rn, std::uint16_t offset);               // STR rd, [rn, #offset]
std::uint32_t tst_imm(int rn, std::uint8_t value);                     // TST rn, #value
std::uint32_t beq(std::uint32_t at, std::uint32_t target);             // BEQ target
std::uint32_t b(std::uint32_t at, std::uint32_t target);               // B target
std::uint32_t bx(int rm);                                              // BX rm
std::uint32_t blx(int rm);                                             // BLX rm (ARMv5 only)

}  // namespace arm

namespace thumb {

std::uint16_t movs_imm(int rd, std::uint8_t value);  // MOVS rd, #value
std::uint16_t add_pc(int rd, std::uint16_t offset);  // ADD rd, pc, #offset (word aligned)
std::uint16_t bx(int rm);                            // BX rm
std::uint16_t nop();                                 // MOV r8, r8
// Two Thumb instructions as the little-endian word that holds them.
std::uint32_t pair(std::uint16_t first, std::uint16_t second);

}  // namespace thumb

// Writes the words into the device from `address` on, as the host's S would.
void load_code(sim::Device& device, std::uint32_t address, const std::vector<std::uint32_t>& words);
