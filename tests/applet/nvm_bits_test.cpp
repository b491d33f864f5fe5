// ERASE_ALL and the commands that change the lock, GPNVM and security bits.
#include "applet_device.h"

#include "applet/mailbox.h"
#include "flash/applet_image.h"

#include <gtest/gtest.h>

namespace {

std::uint32_t fmcn(std::uint32_t fmr) { return fmr >> 16 & 0xFF; }

class EraseAllLocked : public testing::TestWithParam<std::uint32_t> {};

TEST_P(EraseAllLocked, IsRefusedWithoutAnEraseCommand) {
    FilledFlash flash;
    AppletDevice applet(device_options(1u << GetParam(), flash.file()));
    applet.prepare();
    const Mailbox reply = applet.run(command::erase_all);
    EXPECT_EQ(reply.status(), 4u);
    EXPECT_TRUE(applet.issued().empty());
    EXPECT_EQ(applet.whole_flash(), flash.contents());
}

INSTANTIATE_TEST_SUITE_P(EraseAll, EraseAllLocked, testing::Range(0u, 32u));

TEST(EraseAll, UnlockedGivesOneEraseToTheFirstControllerOnly) {
    FilledFlash flash;
    AppletDevice applet(device_options(0, flash.file()));
    applet.prepare();
    const Mailbox reply = applet.run(command::erase_all);
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(applet.issued(), (std::vector<Issued>{{0, efc::ea, 0}}));
    EXPECT_EQ(fmcn(applet.device().fmr(0)), 72u);
    // Bank 1 keeps its bytes until WRITE erases it page by page.
    Bytes expected = flash.contents();
    std::fill_n(expected.begin(), flash_size / 2, 0xFF);
    EXPECT_EQ(applet.whole_flash(), expected);
}

struct RegionCase {
    std::uint32_t region;
    int controller;
    std::uint32_t first_page;
};

void PrintTo(const RegionCase& c, std::ostream* out) { *out << "region_" << c.region; }

class LockBit : public testing::TestWithParam<RegionCase> {};

TEST_P(LockBit, LockSetsTheBitOfThatRegionAlone) {
    const auto [region, controller, first_page] = GetParam();
    AppletDevice applet;
    applet.prepare();
    const Mailbox reply = applet.run(command::lock, {region});
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(applet.issued(), (std::vector<Issued>{{controller, efc::slb, first_page}}));
    EXPECT_EQ(applet.device().lock_bits(), 1u << region);
    EXPECT_EQ(fmcn(applet.device().fmr(controller)), 48u);
}

TEST_P(LockBit, UnlockClearsTheBitOfThatRegionAlone) {
    const auto [region, controller, first_page] = GetParam();
    AppletDevice applet(device_options(0xFFFFFFFF));
    applet.prepare();
    const Mailbox reply = applet.run(command::unlock, {region});
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(applet.issued(), (std::vector<Issued>{{controller, efc::clb, first_page}}));
    EXPECT_EQ(applet.device().lock_bits(), ~(1u << region));
    EXPECT_EQ(fmcn(applet.device().fmr(controller)), 48u);
}

INSTANTIATE_TEST_SUITE_P(LockUnlock, LockBit,
                         testing::Values(RegionCase{0, 0, 0}, RegionCase{1, 0, 64}, RegionCase{15, 0, 960},
                                         RegionCase{16, 1, 0}, RegionCase{17, 1, 64}, RegionCase{31, 1, 960}));

TEST(LockUnlock, EveryRegionOneAfterTheOther) {
    AppletDevice applet;
    applet.prepare();
    std::uint32_t locked = 0;
    for (std::uint32_t region = 0; region < 32; ++region) {
        EXPECT_EQ(applet.run(command::lock, {region}).status(), 0u);
        locked |= 1u << region;
        EXPECT_EQ(applet.device().lock_bits(), locked) << "after locking region " << region;
    }
    for (std::uint32_t region = 0; region < 32; ++region) {
        EXPECT_EQ(applet.run(command::unlock, {region}).status(), 0u);
        locked &= ~(1u << region);
        EXPECT_EQ(applet.device().lock_bits(), locked) << "after unlocking region " << region;
    }
    EXPECT_EQ(applet.issued().size(), 64u);
}

class RegionBeyondTheFlash : public testing::TestWithParam<std::uint32_t> {};

TEST_P(RegionBeyondTheFlash, IsRefusedWithoutACommand) {
    AppletDevice applet;
    applet.prepare();
    EXPECT_NE(applet.run(GetParam(), {32}).status(), 0u);
    EXPECT_NE(applet.run(GetParam(), {0xFFFFFFFF}).status(), 0u);
    EXPECT_TRUE(applet.issued().empty());
}

INSTANTIATE_TEST_SUITE_P(LockUnlock, RegionBeyondTheFlash, testing::Values(command::lock, command::unlock));

class NvmBits : public testing::Test {
protected:
    void SetUp() override { applet.prepare(); }
    // As the host's cancel of programming mode does it, past the applet.
    void preset_gpnvm(std::uint32_t bit) {
        applet.direct_command(0, efc::sgpb, bit);
        applet.issued();
    }
    AppletDevice applet;
};

using Gpnvm = NvmBits;

TEST_F(Gpnvm, SetIssuesTheCommandWhenTheBitIsClear) {
    const Mailbox reply = applet.run(command::gpnvm, {1, 2});
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(applet.issued(), (std::vector<Issued>{{0, efc::sgpb, 2}}));
    EXPECT_EQ(applet.device().gpnvm_bits(), 0b100);
    EXPECT_EQ(fmcn(applet.device().fmr(0)), 48u);
}

TEST_F(Gpnvm, SetOfABitAlreadySetIssuesNothing) {
    preset_gpnvm(2);
    const Mailbox reply = applet.run(command::gpnvm, {1, 2});
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_TRUE(applet.issued().empty());
    EXPECT_EQ(applet.device().gpnvm_bits(), 0b100);
}

TEST_F(Gpnvm, AnyNonZeroActionSets) {
    const Mailbox reply = applet.run(command::gpnvm, {0x80000000, 0});
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(applet.issued(), (std::vector<Issued>{{0, efc::sgpb, 0}}));
}

TEST_F(Gpnvm, ClearIssuesTheCommandWhenTheBitIsSet) {
    preset_gpnvm(1);
    preset_gpnvm(2);
    const Mailbox reply = applet.run(command::gpnvm, {0, 1});
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(applet.issued(), (std::vector<Issued>{{0, efc::cgpb, 1}}));
    EXPECT_EQ(applet.device().gpnvm_bits(), 0b100);
}

TEST_F(Gpnvm, ClearOfABitAlreadyClearIssuesNothing) {
    preset_gpnvm(0);
    const Mailbox reply = applet.run(command::gpnvm, {0, 2});
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_TRUE(applet.issued().empty());
    EXPECT_EQ(applet.device().gpnvm_bits(), 0b001);
}

TEST_F(Gpnvm, BitNumberIsTheLowByteOfTheArgument) {
    const Mailbox reply = applet.run(command::gpnvm, {1, 0x7301});
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(applet.issued(), (std::vector<Issued>{{0, efc::sgpb, 1}}));
}

// Bit 8 would be LOCKS0 of the status register: it must not pass for a set GPNVM bit.
TEST(GpnvmBeyondBit2, IsRefusedWithoutACommand) {
    AppletDevice applet(device_options(1));
    applet.prepare();
    for (std::uint32_t bit : {3u, 8u, 0xFFu}) {
        EXPECT_NE(applet.run(command::gpnvm, {1, bit}).status(), 0u) << "bit " << bit;
        EXPECT_NE(applet.run(command::gpnvm, {0, bit}).status(), 0u) << "bit " << bit;
    }
    EXPECT_TRUE(applet.issued().empty());
    EXPECT_EQ(applet.device().gpnvm_bits(), 0);
}

using Security = NvmBits;

TEST_F(Security, SetsTheSecurityBitWithItsKeyOnly) {
    // An UNLOCK whose code was spoilt into SECURITY carries a region index.
    EXPECT_EQ(applet.run(command::security, {5}).status(), 1u);
    EXPECT_TRUE(applet.issued().empty());
    EXPECT_FALSE(applet.device().security_bit());

    const Mailbox reply = applet.run(command::security, {SECURITY_KEY});
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(applet.issued(), (std::vector<Issued>{{0, efc::ssb, 0}}));
    EXPECT_TRUE(applet.device().security_bit());
}

TEST_F(Security, AlreadySetIssuesNothing) {
    applet.direct_command(0, efc::ssb, 0);
    applet.issued();
    const Mailbox reply = applet.run(command::security, {SECURITY_KEY});
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_TRUE(applet.issued().empty());
}

// A controller command counts only once the controller is ready again.
TEST(ControllerWait, NoReturnWhileTheControllerStaysBusy) {
    sim::DeviceOptions options = device_options(0);
    options.fsr_never_ready = true;
    options.instruction_budget = 200'000;
    AppletDevice applet(options);
    applet.prepare();
    applet.write_mailbox(0x00, little_endian({command::lock, 0, 5}));
    const sim::RunResult result = applet.device().run(APPLET_LOAD_ADDRESS);
    EXPECT_FALSE(result.returned);
    EXPECT_EQ(applet.issued(), (std::vector<Issued>{{0, efc::slb, 320}}));
}

}  // namespace
