#include "arm_code.h"

#include <cstdlib>
#include <cstring>

namespace arm {

namespace {

constexpr std::uint32_t always = 0xE0000000;
constexpr std::uint32_t equal = 0x00000000;

std::uint32_t reg(int r, int shift) { return static_cast<std::uint32_t>(r) << shift; }

// Branch offsets count words from the instruction two ahead.
std::uint32_t branch_offset(std::uint32_t at, std::uint32_t target) {
    return ((target - (at + 8)) >> 2) & 0x00FFFFFF;
}

}  // namespace

std::uint32_t mov_imm(int rd, std::uint8_t value) { return always | 0x03A00000 | reg(rd, 12) | value; }
std::uint32_t mov(int rd, int rm) { return always | 0x01A00000 | reg(rd, 12) | reg(rm, 0); }
std::uint32_t add_imm(int rd, int rn, std::uint8_t value) { return always | 0x02800000 | reg(rn, 16) | reg(rd, 12) | value; }
std::uint32_t ldr_pc(int rd, std::uint32_t at, std::uint32_t literal) {
    if (literal < at + 8) std::abort();  // only forward literals are encoded here
    return always | 0x059F0000 | reg(rd, 12) | (literal - (at + 8));
}
std::uint32_t ldr(int rd, int rn, std::uint16_t offset) { return always | 0x05900000 | reg(rn, 16) | reg(rd, 12) | offset; }
std::uint32_t str(int rd, int rn, std::uint16_t offset) { return always | 0x05800000 | reg(rn, 16) | reg(rd, 12) | offset; }
std::uint32_t tst_imm(int rn, std::uint8_t value) { return always | 0x03100000 | reg(rn, 16) | value; }
std::uint32_t beq(std::uint32_t at, std::uint32_t target) { return equal | 0x0A000000 | branch_offset(at, target); }
std::uint32_t b(std::uint32_t at, std::uint32_t target) { return always | 0x0A000000 | branch_offset(at, target); }
std::uint32_t bx(int rm) { return always | 0x012FFF10 | reg(rm, 0); }
std::uint32_t blx(int rm) { return always | 0x012FFF30 | reg(rm, 0); }

}  // namespace arm

namespace thumb {

std::uint16_t movs_imm(int rd, std::uint8_t value) { return static_cast<std::uint16_t>(0x2000 | rd << 8 | value); }
std::uint16_t add_pc(int rd, std::uint16_t offset) { return static_cast<std::uint16_t>(0xA000 | rd << 8 | offset >> 2); }
std::uint16_t bx(int rm) { return static_cast<std::uint16_t>(0x4700 | rm << 3); }
std::uint16_t nop() { return 0x46C0; }
std::uint32_t pair(std::uint16_t first, std::uint16_t second) { return static_cast<std::uint32_t>(second) << 16 | first; }

}  // namespace thumb

void load_code(sim::Device& device, std::uint32_t address, const std::vector<std::uint32_t>& words) {
    std::vector<std::uint8_t> bytes(words.size() * 4);
    std::memcpy(bytes.data(), words.data(), bytes.size());
    device.write_memory(address, bytes.data(), bytes.size());
}
