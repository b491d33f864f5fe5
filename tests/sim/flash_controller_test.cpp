// The flash controllers through the device, as the host's word commands and
// target code reach them.
#include "sim/device.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <thread>

namespace {

constexpr std::uint32_t flash = 0x00100000;
constexpr std::uint32_t bank1 = 0x00140000;
constexpr std::uint32_t page = 256;

constexpr std::uint32_t frdy = 1u << 0;
constexpr std::uint32_t locke = 1u << 2;
constexpr std::uint32_t proge = 1u << 3;
constexpr std::uint32_t security = 1u << 4;
constexpr std::uint32_t nebp = 1u << 7;

constexpr std::uint8_t wp = 0x01, slb = 0x02, wpl = 0x03, clb = 0x04, ea = 0x08, sgpb = 0x0B, cgpb = 0x0D, ssb = 0x0F;

std::uint32_t mc_fmr(int controller) { return 0xFFFFFF60 + 0x10 * controller; }
std::uint32_t mc_fcr(int controller) { return 0xFFFFFF64 + 0x10 * controller; }
std::uint32_t mc_fsr(int controller) { return 0xFFFFFF68 + 0x10 * controller; }
std::uint32_t keyed(std::uint8_t code, std::uint32_t argument) { return 0x5A000000 | argument << 8 | code; }

class FlashController : public testing::Test {
protected:
    explicit FlashController(sim::DeviceOptions options = {}) : device(options) {}

    void command(int controller, std::uint8_t code, std::uint32_t argument) {
        device.write_word(mc_fcr(controller), keyed(code, argument));
    }
    // Loads a latch with `words` from the start of the page at `address`.
    void load(std::uint32_t address, const std::vector<std::uint32_t>& words) {
        for (std::size_t i = 0; i < words.size(); ++i) device.write_word(address + 4 * static_cast<std::uint32_t>(i), words[i]);
    }
    std::uint32_t flash_word(std::uint32_t address) const {
        const std::uint8_t* at = device.flash() + (address - flash);
        return at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24;
    }
    bool erased(std::uint32_t address, std::uint32_t count) const {
        const std::uint8_t* at = device.flash() + (address - flash);
        return std::all_of(at, at + count, [](std::uint8_t b) { return b == 0xFF; });
    }
    std::vector<std::uint8_t> snapshot() const { return {device.flash(), device.flash() + 0x80000}; }

    sim::Device device;
};

using Latch = FlashController;

TEST_F(Latch, WordWritesIntoFlashChangeNothingUntilAPageIsProgrammed) {
    load(flash + 5 * page, {0x11223344, 0x55667788});
    EXPECT_TRUE(erased(flash + 5 * page, page));
    EXPECT_EQ(device.read_word(flash + 5 * page), 0xFFFFFFFFu);
    command(0, wp, 5);
    EXPECT_EQ(flash_word(flash + 5 * page), 0x11223344u);
    EXPECT_EQ(flash_word(flash + 5 * page + 4), 0x55667788u);
    EXPECT_TRUE(erased(flash + 5 * page + 8, page - 8));
    EXPECT_TRUE(erased(flash + 4 * page, page));
}

TEST_F(Latch, HoldsOffsetsWithinAPageWhateverPageTheWriteAddressed) {
    device.write_word(flash + 7 * page + 0x10, 0xA5A5A5A5);
    command(0, wp, 9);
    EXPECT_EQ(flash_word(flash + 9 * page + 0x10), 0xA5A5A5A5u);
    EXPECT_TRUE(erased(flash + 7 * page, page));
}

TEST_F(Latch, ReturnsToAllOnesAfterEveryProgrammingCommand) {
    load(flash + 3 * page, {0x01020304});
    command(0, wp, 3);
    // No new words: the next page is programmed from an all-ones latch.
    command(0, wp, 4);
    EXPECT_EQ(flash_word(flash + 3 * page), 0x01020304u);
    EXPECT_TRUE(erased(flash + 4 * page, page));

    load(flash, {0});
    command(0, ea, 0);
    device.write_word(mc_fmr(0), 0);
    command(0, wp, 0);
    EXPECT_TRUE(erased(flash, page));
}

TEST_F(Latch, EachBankHasItsOwn) {
    load(bank1 + 2 * page, {0xCAFEF00D});
    command(0, wp, 2);
    EXPECT_TRUE(erased(flash + 2 * page, page));
    command(1, wp, 2);
    EXPECT_EQ(flash_word(bank1 + 2 * page), 0xCAFEF00Du);
    EXPECT_EQ(device.read_word(bank1 + 2 * page), 0xCAFEF00Du);
}

using PageProgramming = FlashController;

TEST_F(PageProgramming, ErasesThePageFirstUnlessNebpIsSet) {
    const std::uint32_t first = 0x0F0F33CC, second = 0x3C3C0FF0;
    load(flash + page, {first});
    command(0, wp, 1);
    load(flash + page, {second});
    command(0, wp, 1);
    EXPECT_EQ(flash_word(flash + page), second);

    device.write_word(mc_fmr(0), nebp);
    load(flash + page, {first});
    command(0, wp, 1);
    // Without an erase, programming only clears bits.
    EXPECT_EQ(flash_word(flash + page), first & second);
}

TEST_F(PageProgramming, EvenThenOddWordsWithoutEraseBuildTheWholePage) {
    std::vector<std::uint32_t> words(64);
    for (std::uint32_t i = 0; i < 64; ++i) words[i] = 0x01010101u * i;
    std::vector<std::uint32_t> even(64, 0xFFFFFFFF), odd(64, 0xFFFFFFFF);
    for (std::size_t i = 0; i < 64; ++i) (i % 2 ? odd : even)[i] = words[i];
    load(flash + 10 * page, even);
    command(0, wp, 10);
    device.write_word(mc_fmr(0), nebp);
    load(flash + 10 * page, odd);
    command(0, wp, 10);
    for (std::uint32_t i = 0; i < 64; ++i) EXPECT_EQ(flash_word(flash + 10 * page + 4 * i), words[i]) << i;
}

TEST_F(PageProgramming, EraseAllClearsOnlyItsOwnBank) {
    load(flash, {0});
    command(0, wp, 0);
    load(bank1, {0});
    command(1, wp, 0);
    command(1, ea, 0);
    EXPECT_TRUE(erased(bank1, 0x40000));
    EXPECT_EQ(flash_word(flash), 0u);
}

TEST_F(PageProgramming, ModeRegisterReadsBackItsFields) {
    device.write_word(mc_fmr(1), 0x00490100);
    EXPECT_EQ(device.read_word(mc_fmr(1)), 0x00490100u);
    EXPECT_EQ(device.fmr(1), 0x00490100u);
    EXPECT_EQ(device.fmr(0), 0u);
    device.write_word(mc_fmr(0), 0xFFFFFFFF);
    const std::uint32_t fields = 0x0D | nebp | 0x300 | 0x00FF0000;
    EXPECT_EQ(device.read_word(mc_fmr(0)), fields);
}

using Locking = FlashController;

TEST_F(Locking, LockedRegionRefusesProgrammingWithLocke) {
    command(0, slb, 64);  // region 1: pages 64 to 127
    EXPECT_EQ(device.lock_bits(), 1u << 1);
    load(flash + 100 * page, {0});
    command(0, wp, 100);
    EXPECT_TRUE(erased(flash + 100 * page, page));
    EXPECT_TRUE(device.read_word(mc_fsr(0)) & locke);
    EXPECT_EQ(device.controller_counters(0).locke, 1u);

    command(0, clb, 127);  // any page of the region names it
    EXPECT_EQ(device.lock_bits(), 0u);
    load(flash + 100 * page, {0});
    command(0, wp, 100);
    EXPECT_EQ(flash_word(flash + 100 * page), 0u);
    EXPECT_FALSE(device.read_word(mc_fsr(0)) & locke);
}

TEST_F(Locking, EraseAllIsRefusedWhileAnyRegionOfThatControllerIsLocked) {
    load(flash, {0});
    command(0, wp, 0);
    load(bank1, {0});
    command(1, wp, 0);
    command(1, slb, 15 * 64);  // region 31
    const auto before = snapshot();
    command(1, ea, 0);
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(device.read_word(mc_fsr(1)) & locke);
    command(0, ea, 0);
    EXPECT_TRUE(erased(flash, 0x40000));
    EXPECT_EQ(flash_word(bank1), 0u);
}

TEST_F(Locking, LockBitsShowInTheirOwnControllersStatus) {
    command(0, slb, 3 * 64);
    command(1, slb, 1 * 64);
    EXPECT_EQ(device.lock_bits(), (1u << 3) | (1u << 17));
    EXPECT_EQ(device.read_word(mc_fsr(0)) >> 16, 1u << 3);
    EXPECT_EQ(device.read_word(mc_fsr(1)) >> 16, 1u << 1);
}

TEST_F(Locking, WplProgramsThenLocks) {
    load(bank1 + 65 * page, {0x12345678});
    command(1, wpl, 65);
    EXPECT_EQ(flash_word(bank1 + 65 * page), 0x12345678u);
    EXPECT_EQ(device.lock_bits(), 1u << 17);
    load(bank1 + 65 * page, {0});
    command(1, wp, 65);
    EXPECT_EQ(flash_word(bank1 + 65 * page), 0x12345678u);
}

class LockedAtStart : public FlashController {
protected:
    LockedAtStart() : FlashController(options()) {}
    static sim::DeviceOptions options() {
        sim::DeviceOptions options;
        options.locked_regions = (1u << 0) | (1u << 31);
        return options;
    }
};

TEST_F(LockedAtStart, RegionsFromTheOptionsAreLocked) {
    EXPECT_EQ(device.lock_bits(), (1u << 0) | (1u << 31));
    EXPECT_EQ(device.read_word(mc_fsr(1)) >> 16, 1u << 15);
    load(flash, {0});
    command(0, wp, 0);
    EXPECT_TRUE(erased(flash, page));
}

using Refusal = FlashController;

TEST_F(Refusal, WrongKeyUnknownCommandAndBadGpnvmNumberSetProgeAndChangeNothing) {
    load(flash, {0});
    const auto before = snapshot();
    const std::uint32_t refused[] = {0x5B000001, 0x00000001, keyed(0x09, 0), keyed(0x00, 0), keyed(sgpb, 3),
                                     0xA5000201 /* key in the wrong byte order */};
    for (const std::uint32_t value : refused) {
        device.write_word(mc_fcr(0), value);
        EXPECT_TRUE(device.read_word(mc_fsr(0)) & proge) << std::hex << value;
    }
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(device.gpnvm_bits(), 0);
    EXPECT_EQ(device.controller_counters(0).proge, std::size(refused));
    const auto& accepted = device.controller_counters(0).accepted;
    EXPECT_TRUE(std::all_of(accepted.begin(), accepted.end(), [](std::uint64_t n) { return n == 0; }));
}

TEST_F(Refusal, ErrorsReadAsSetUntilStatusIsReadOnce) {
    device.write_word(mc_fcr(1), 0x12000001);
    const std::uint32_t first = device.read_word(mc_fsr(1));
    EXPECT_EQ(first & (proge | frdy), proge | frdy);
    EXPECT_FALSE(device.read_word(mc_fsr(1)) & proge);
    EXPECT_FALSE(device.read_word(mc_fsr(0)) & proge);
}

TEST_F(Refusal, LogRecordsEveryCommandWrite) {
    command(1, slb, 130);
    device.write_word(mc_fcr(0), 0x11000B05);
    const auto& log = device.controller_log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].controller, 1);
    EXPECT_EQ(log[0].code, slb);
    EXPECT_EQ(log[0].argument, 130u);
    EXPECT_TRUE(log[0].key_ok);
    EXPECT_EQ(log[0].fsr_after & frdy, frdy);
    EXPECT_EQ(log[0].fsr_after >> 16, 1u << 2);
    EXPECT_EQ(log[1].controller, 0);
    EXPECT_EQ(log[1].code, 0x05);
    EXPECT_EQ(log[1].argument, 0x00Bu);
    EXPECT_FALSE(log[1].key_ok);
    EXPECT_TRUE(log[1].fsr_after & proge);
    device.clear_controller_log();
    EXPECT_TRUE(device.controller_log().empty());
}

using NonVolatileBits = FlashController;

TEST_F(NonVolatileBits, GpnvmBitsAreSetAndClearedAndShownByBothControllers) {
    command(0, sgpb, 2);
    command(1, sgpb, 0);
    EXPECT_EQ(device.gpnvm_bits(), 0b101);
    for (int controller = 0; controller < 2; ++controller)
        EXPECT_EQ(device.read_word(mc_fsr(controller)) >> 8 & 7, 0b101u) << controller;
    command(0, cgpb, 0);
    EXPECT_EQ(device.gpnvm_bits(), 0b100);
    EXPECT_EQ(device.read_word(mc_fsr(1)) >> 8 & 7, 0b100u);
}

TEST_F(NonVolatileBits, SecurityBitIsShownByBothControllers) {
    EXPECT_FALSE(device.read_word(mc_fsr(0)) & security);
    command(0, ssb, 0);
    EXPECT_TRUE(device.security_bit());
    EXPECT_TRUE(device.read_word(mc_fsr(0)) & security);
    EXPECT_TRUE(device.read_word(mc_fsr(1)) & security);
}

class SlowFlash : public FlashController {
protected:
    SlowFlash() : FlashController(options()) {}
    // The realistic model, with a page program slow enough that a loaded
    // machine still reads the status while it runs.
    static sim::DeviceOptions options() {
        sim::DeviceOptions options;
        options.timing = sim::TimingModel::realistic();
        options.timing.wp_ms = 300;
        return options;
    }
};

TEST_F(SlowFlash, HostSeesFrdyClearedRightAfterAPageProgramAndSetOnceItIsDone) {
    command(0, wp, 0);
    EXPECT_FALSE(device.read_word(mc_fsr(0)) & frdy);
    EXPECT_TRUE(device.read_word(mc_fsr(1)) & frdy);
    EXPECT_FALSE(device.controller_log().back().fsr_after & frdy);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(device.read_word(mc_fsr(0)) & frdy);
    EXPECT_DOUBLE_EQ(device.busy_ms(), 300);
}

TEST_F(SlowFlash, CommandWhileBusyIsRefusedWithProge) {
    command(0, wp, 0);
    command(0, sgpb, 1);
    const std::uint32_t status = device.read_word(mc_fsr(0));
    EXPECT_TRUE(status & proge);
    EXPECT_EQ(device.gpnvm_bits(), 0);
}

TEST_F(SlowFlash, RefusedCommandLeavesTheControllerReadyAndShowsTheError) {
    command(1, slb, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    load(bank1, {0});
    command(1, wp, 0);
    EXPECT_EQ(device.read_word(mc_fsr(1)) & (frdy | locke), frdy | locke);
}

class NeverReady : public FlashController {
protected:
    NeverReady() : FlashController(options()) {}
    static sim::DeviceOptions options() {
        sim::DeviceOptions options;
        options.fsr_never_ready = true;
        return options;
    }
};

TEST_F(NeverReady, NoControllerEverShowsFrdyYetCommandsTakeEffect) {
    EXPECT_FALSE(device.read_word(mc_fsr(0)) & frdy);
    EXPECT_FALSE(device.read_word(mc_fsr(1)) & frdy);
    command(0, sgpb, 2);
    EXPECT_EQ(device.gpnvm_bits(), 0b100);
    EXPECT_FALSE(device.read_word(mc_fsr(0)) & frdy);
}

class CorruptByte : public FlashController {
protected:
    static constexpr std::uint32_t target = flash + 0x1234;  // page 18, offset 0x34 (an odd word)
    CorruptByte() : FlashController(options()) {}
    static sim::DeviceOptions options() {
        sim::DeviceOptions options;
        options.corrupt_address = target;
        return options;
    }
    std::uint8_t stored() const { return device.flash()[target - flash]; }
};

TEST_F(CorruptByte, IsStoredInvertedAfterItsPageIsProgrammed) {
    device.write_word(target & ~3u, 0x5A5A5A5A);
    command(0, wp, 18);
    EXPECT_EQ(stored(), 0xA5);
    EXPECT_EQ(device.flash()[target - flash + 1], 0x5A);
}

TEST_F(CorruptByte, StaysWrongWhenThePageIsWrittenInTwoPasses) {
    // First pass: the other words, so the target's word stays erased.
    device.write_word((target & ~0xFFu), 0);
    command(0, wp, 18);
    device.write_word(mc_fmr(0), nebp);
    device.write_word(target & ~3u, 0x00000077);
    command(0, wp, 18);
    EXPECT_EQ(stored(), static_cast<std::uint8_t>(~0x77));
}

TEST_F(CorruptByte, OtherPagesAreSound) {
    device.write_word(flash + 17 * page, 0x12345678);
    command(0, wp, 17);
    EXPECT_EQ(flash_word(flash + 17 * page), 0x12345678u);
    EXPECT_EQ(stored(), 0xFF);
}

class StuckLock : public FlashController {
protected:
    StuckLock() : FlashController(options()) {}
    static sim::DeviceOptions options() {
        sim::DeviceOptions options;
        options.stuck_locks = 1u << 20;  // bank 1, pages 256 to 319
        return options;
    }
};

TEST_F(StuckLock, RegionStartsLockedAndClearingItGivesLocke) {
    EXPECT_EQ(device.lock_bits(), 1u << 20);
    command(1, clb, 256);
    EXPECT_EQ(device.read_word(mc_fsr(1)) & (locke | proge | frdy), locke | frdy);
    EXPECT_EQ(device.lock_bits(), 1u << 20);
    // Other regions lock and unlock as ever.
    command(1, slb, 0);
    command(1, clb, 0);
    EXPECT_EQ(device.read_word(mc_fsr(1)) & (locke | proge), 0u);
    EXPECT_EQ(device.lock_bits(), 1u << 20);
}

class FailingCommand : public FlashController {
protected:
    FailingCommand() : FlashController(options()) {}
    static sim::DeviceOptions options() {
        sim::DeviceOptions options;
        options.failing_command = sim::FailingCommand{wp, 3};
        return options;
    }
};

TEST_F(FailingCommand, OnlyTheChosenOccurrenceOfThatCodeFailsOverBothControllers) {
    command(0, slb, 0);  // another code does not count
    command(0, clb, 0);
    // Pages 0 and 1 of bank 0, then pages 2 and 3 of bank 1.
    for (std::uint32_t i = 0; i < 4; ++i) {
        const int controller = i < 2 ? 0 : 1;
        load((controller ? bank1 : flash) + i * page, {0x11111111u * (i + 1)});
        command(controller, wp, i);
        EXPECT_EQ(device.read_word(mc_fsr(controller)) & proge, i == 2 ? proge : 0u) << i;
    }
    EXPECT_EQ(flash_word(flash), 0x11111111u);
    EXPECT_EQ(flash_word(flash + page), 0x22222222u);
    EXPECT_TRUE(erased(bank1 + 2 * page, page));
    EXPECT_EQ(flash_word(bank1 + 3 * page), 0x44444444u);
}

}  // namespace
