// Target code run by G: ARM state entry, return through the link register,
// interworking, flash-controller access and what counts as a hang.
#include "arm_code.h"
#include "sim/device.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace {

constexpr std::uint32_t code = 0x00202000;
constexpr std::uint32_t marker = 0x00201000;

long resident_kib() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long kib = 0;
    while (status >> key)
        if (key == "VmRSS:" && status >> kib) break;
    return kib;
}

// A chain of 64 blocks, then a store of their count at the marker: as much
// code to translate as the applet's commands have.
std::vector<std::uint32_t> block_chain() {
    std::vector<std::uint32_t> words;
    for (std::uint32_t at = code; at < code + 64 * 8; at += 8) {
        words.push_back(arm::add_imm(0, 0, 1));
        words.push_back(arm::b(at + 4, at + 8));
    }
    const std::uint32_t end = code + 64 * 8;
    for (const std::uint32_t word : {arm::ldr_pc(3, end, end + 12), arm::str(0, 3, 0), arm::bx(arm::lr), marker})
        words.push_back(word);
    return words;
}

class CodeRun : public testing::Test {
protected:
    explicit CodeRun(sim::DeviceOptions options = {}) : device(options) {}

    // MOV r1, #value; store r1 at the marker; BX LR.
    std::vector<std::uint32_t> store_and_return(std::uint8_t value) const {
        return {arm::mov_imm(1, value), arm::ldr_pc(3, code + 4, code + 16), arm::str(1, 3, 0), arm::bx(arm::lr),
                marker};
    }

    sim::Device device;
};

using ArmCode = CodeRun;

TEST_F(ArmCode, StoresAndReturnsThroughTheLinkRegister) {
    load_code(device, code, store_and_return(0x5C));
    const sim::RunResult result = device.run(code);
    EXPECT_TRUE(result.returned) << result.reason;
    EXPECT_EQ(result.instructions, 4u);
    EXPECT_EQ(device.read_word(marker), 0x5Cu);
    EXPECT_EQ(device.runs(), 1u);
}

TEST_F(ArmCode, ResetThroughRstcEndsTheRunAndClearsSram) {
    // LDR r1, =RSTC_CR; LDR r0, =key | PROCRST; STR r0, [r1]; B .
    load_code(device, code, {arm::ldr_pc(1, code, code + 16), arm::ldr_pc(0, code + 4, code + 20), arm::str(0, 1, 0),
                             arm::b(code + 12, code + 12), 0xFFFFFD00, 0xA5000001});
    EXPECT_TRUE(device.run(code).reset);
    EXPECT_EQ(device.resets(), 1u);
    EXPECT_EQ(device.read_word(code), 0u);
}

TEST_F(ArmCode, StartsInSupervisorModeWithInterruptsMaskedAndStackAtTheTopOfSram) {
    // MRS r1, CPSR; store it; store SP beside it.
    load_code(device, code, {0xE10F1000, arm::ldr_pc(3, code + 4, code + 20), arm::str(1, 3, 0),
                             arm::str(13, 3, 4), arm::bx(arm::lr), marker});
    ASSERT_TRUE(device.run(code).returned);
    EXPECT_EQ(device.read_word(marker) & 0xFF, 0xD3u);
    EXPECT_EQ(device.read_word(marker + 4), 0x00208000u);
}

TEST_F(ArmCode, NewCodeUploadedOverOldCodeIsWhatRuns) {
    load_code(device, code, store_and_return(1));
    ASSERT_TRUE(device.run(code).returned);
    load_code(device, code, store_and_return(2));
    ASSERT_TRUE(device.run(code).returned);
    EXPECT_EQ(device.read_word(marker), 2u);
    // A single word written with W counts as an upload too.
    device.write_word(code, arm::mov_imm(1, 3));
    ASSERT_TRUE(device.run(code).returned);
    EXPECT_EQ(device.read_word(marker), 3u);
}

TEST_F(ArmCode, AWordWrittenInsideRunningCodeIsWhatRunsNext) {
    load_code(device, code, store_and_return(4));
    ASSERT_TRUE(device.run(code).returned);
    device.write_word(code + 8, arm::str(1, 3, 4));  // the store, in the middle of the block
    ASSERT_TRUE(device.run(code).returned);
    EXPECT_EQ(device.read_word(marker + 4), 4u);
}

// Data written next to code, as the host writes the applet's mailbox before
// each command, leaves the code translated: translating it again each time
// left the old translation dead in the emulator's code buffer, which grew by
// kilobytes a command, up to a gigabyte.
TEST_F(ArmCode, DataWrittenBesideCodeLeavesTheEmulatorsMemoryAsItWas) {
    load_code(device, code, block_chain());
    const std::vector<std::uint8_t> mailbox(128, 0x11);
    ASSERT_TRUE(device.run(code).returned);
    const long before = resident_kib();
    for (int command = 0; command < 3000; ++command) {
        device.write_memory(code + 0x280, mailbox.data(), mailbox.size());
        ASSERT_TRUE(device.run(code).returned);
    }
    EXPECT_LT(resident_kib() - before, 4096);
    EXPECT_EQ(device.read_word(marker), 64u);
}

// Devices made one after another share emulators, and each leaves its
// translations dead in the one it had.
TEST(EmulatorReuse, DevicesOneAfterAnotherLeaveTheMemoryAsItWas) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine: the resident size tells nothing";
#endif
    const long before = resident_kib();
    for (int made = 0; made < 1000; ++made) {
        sim::Device device{sim::DeviceOptions{}};
        load_code(device, code, block_chain());
        ASSERT_TRUE(device.run(code).returned);
    }
    EXPECT_LT(resident_kib() - before, 8192);
}

TEST_F(ArmCode, ArmToThumbAndBackThroughBx) {
    load_code(device, code,
              {
                  arm::add_imm(0, arm::pc, 1),  // r0 = code + 9: Thumb at code + 8
                  arm::bx(0),
                  thumb::pair(thumb::movs_imm(1, 42), thumb::add_pc(2, 4)),  // r2 = code + 16, ARM
                  thumb::pair(thumb::bx(2), thumb::nop()),
                  arm::ldr_pc(3, code + 16, code + 28),
                  arm::str(1, 3, 0),
                  arm::bx(arm::lr),
                  marker,
              });
    const sim::RunResult result = device.run(code);
    EXPECT_TRUE(result.returned) << result.reason;
    EXPECT_EQ(device.read_word(marker), 42u);
}

TEST_F(ArmCode, ThumbCodeMayReturnStraightToTheMonitor) {
    load_code(device, code,
              {arm::add_imm(0, arm::pc, 1), arm::bx(0), thumb::pair(thumb::movs_imm(1, 7), thumb::bx(arm::lr))});
    EXPECT_TRUE(device.run(code).returned);
}

TEST_F(ArmCode, BlxIsAnUndefinedInstructionAsOnTheArm7tdmi) {
    // On an ARMv5 core this would call the BX LR at code + 28 and return.
    load_code(device, code,
              {arm::mov(4, arm::lr), arm::ldr_pc(0, code + 4, code + 24), arm::blx(0), arm::mov(arm::lr, 4),
               arm::bx(arm::lr), 0, code + 28, arm::bx(arm::lr)});
    const sim::RunResult result = device.run(code);
    EXPECT_FALSE(result.returned);
    EXPECT_FALSE(result.reason.empty());
}

TEST_F(ArmCode, ReadsTheChipIdentificationAndWritesTheDebugUnit) {
    load_code(device, code,
              {arm::ldr_pc(0, code, code + 24), arm::ldr(1, 0, 0x40), arm::ldr_pc(3, code + 8, code + 28),
               arm::str(1, 3, 0), arm::str(1, 0, 0x1C), arm::bx(arm::lr), 0xFFFFF200, marker});
    ASSERT_TRUE(device.run(code).returned);
    EXPECT_EQ(device.read_word(marker), 0x272A0A40u);
    EXPECT_EQ(device.debug_unit_output(), std::vector<std::uint8_t>{0x40});
}

// Devices share emulators one after another (setting one up is slow):
// neither the code nor the core state of one may reach the next.
TEST(EmulatorReuse, ADeviceStartsWithNothingOfTheOneBefore) {
    constexpr std::uint32_t mrc_control = 0xEE111F10;      // MRC p15, 0, r1, c1, c0, 0
    constexpr std::uint32_t mcr_control = 0xEE011F10;      // MCR p15, 0, r1, c1, c0, 0
    constexpr std::uint32_t orr_high_vectors = 0xE3811A02;  // ORR r1, r1, #0x2000
    {
        sim::Device first{sim::DeviceOptions{}};
        load_code(first, code, {mrc_control, orr_high_vectors, mcr_control, arm::mov_imm(1, 1),
                                arm::ldr_pc(3, code + 16, code + 28), arm::str(1, 3, 0), arm::bx(arm::lr), marker});
        ASSERT_TRUE(first.run(code).returned);
        ASSERT_EQ(first.read_word(marker), 1u);
    }
    sim::Device second{sim::DeviceOptions{}};
    load_code(second, code, {mrc_control, arm::ldr_pc(3, code + 4, code + 24), arm::str(1, 3, 4), arm::mov_imm(1, 2),
                             arm::str(1, 3, 0), arm::bx(arm::lr), marker});
    ASSERT_TRUE(second.run(code).returned);
    EXPECT_EQ(second.read_word(marker), 2u);
    EXPECT_EQ(second.read_word(marker + 4) & 0x2000, 0u) << "high vectors left on by the device before";
}

class Budget : public CodeRun {
protected:
    Budget() : CodeRun(options()) {}
    static sim::DeviceOptions options() {
        sim::DeviceOptions options;
        options.instruction_budget = 200'000;
        return options;
    }
};

TEST_F(Budget, BranchToSelfIsAHangWithAReason) {
    load_code(device, code, {arm::b(code, code)});
    const sim::RunResult result = device.run(code);
    EXPECT_FALSE(result.returned);
    EXPECT_FALSE(result.reason.empty());
    EXPECT_EQ(result.instructions, 200'000u);
    EXPECT_EQ(device.run_instructions(), 200'000u);
}

TEST_F(Budget, FaultIsAHangWithAReason) {
    // A load from an address nothing answers at.
    load_code(device, code, {arm::mov_imm(0, 0), arm::ldr(1, 0, 0), arm::bx(arm::lr)});
    const sim::RunResult result = device.run(code);
    EXPECT_FALSE(result.returned);
    EXPECT_FALSE(result.reason.empty());
}

TEST_F(Budget, DeviceRunsAgainAfterAHang) {
    load_code(device, code, {arm::b(code, code)});
    ASSERT_FALSE(device.run(code).returned);
    load_code(device, code, store_and_return(9));
    EXPECT_TRUE(device.run(code).returned);
    EXPECT_EQ(device.read_word(marker), 9u);
}

// Writes `command` to EFC0's MC_FCR and polls MC_FSR until FRDY.
std::vector<std::uint32_t> command_and_wait(std::uint32_t command) {
    return {
        arm::ldr_pc(0, code, code + 28),
        arm::ldr_pc(1, code + 4, code + 32),
        arm::str(1, 0, 4),
        arm::ldr(2, 0, 8),  // code + 12: poll
        arm::tst_imm(2, 1),
        arm::beq(code + 20, code + 12),
        arm::bx(arm::lr),
        0xFFFFFF60,
        command,
    };
}

TEST_F(ArmCode, CodeSetsAGpnvmBitThroughTheFlashController) {
    load_code(device, code, command_and_wait(0x5A00020B));
    ASSERT_TRUE(device.run(code).returned);
    EXPECT_EQ(device.gpnvm_bits(), 0b100);
    ASSERT_EQ(device.controller_log().size(), 1u);
    EXPECT_EQ(device.controller_log()[0].code, 0x0B);
    EXPECT_EQ(device.controller_log()[0].argument, 2u);
}

class SlowEraseRun : public CodeRun {
protected:
    SlowEraseRun() : CodeRun(options()) {}
    static sim::DeviceOptions options() {
        sim::DeviceOptions options;
        options.timing.ea_ms = 30;
        return options;
    }
};

TEST_F(SlowEraseRun, PollingABusyControllerCostsAHandfulOfInstructions) {
    load_code(device, code, command_and_wait(0x5A000008));
    const sim::RunResult result = device.run(code);
    ASSERT_TRUE(result.returned) << result.reason;
    // The first poll that finds the controller busy is held until it is
    // done: a couple of polls, not millions.
    EXPECT_LT(result.instructions, 100u);
    EXPECT_EQ(device.controller_counters(0).accepted[static_cast<int>(sim::FlashCommand::EA)], 1u);
}

}  // namespace
