// Each command's status when the flash controller refuses what the applet
// asks of it (the virtual device's injected faults).
#include "applet_device.h"

#include "applet/mailbox.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t nebp = 1u << 7;

// A device whose `occurrence`-th controller command with `code` is refused.
sim::DeviceOptions failing(std::uint8_t code, std::uint64_t occurrence, const std::string& flash_file = {}) {
    sim::DeviceOptions options = device_options(0, flash_file);
    options.failing_command = sim::FailingCommand{code, occurrence};
    return options;
}

TEST(FailingWrite, SecondPassOfTheFirstPageGivesStatus2AndNoBytesWritten) {
    FilledFlash flash;
    AppletDevice applet(failing(efc::wp, 2, flash.file()));
    applet.prepare();
    const Bytes data = random_bytes(1024, 7);
    applet.put(applet.buffer().address, data);
    const Mailbox reply = applet.run(command::write, {applet.buffer().address, 1024, 0});
    EXPECT_EQ(reply.status(), 2u);
    EXPECT_EQ(reply.result(), 0u);
    EXPECT_EQ(applet.issued(), (std::vector<Issued>{{0, efc::wp, 0}, {0, efc::wp, 0}}));
    // The second pass ended at once: pages stay programmed without an erase
    // until a later page write completes both passes.
    EXPECT_TRUE(applet.device().fmr(0) & nebp);
    EXPECT_TRUE(applet.device().fmr(1) & nebp);
}

TEST(FailingWrite, PagesBeforeTheFailingOneAreKept) {
    FilledFlash flash;
    AppletDevice applet(failing(efc::wp, 4, flash.file()));
    applet.prepare();
    const Bytes data = random_bytes(1024, 8);
    applet.put(applet.buffer().address, data);
    const Mailbox reply = applet.run(command::write, {applet.buffer().address, 1024, 0x2000});
    EXPECT_EQ(reply.status(), 2u);
    EXPECT_EQ(reply.result(), 0u);
    EXPECT_EQ(applet.issued().size(), 4u);
    EXPECT_EQ(applet.flash(0x2000, 256), Bytes(data.begin(), data.begin() + 256));
}

struct RefusedCase {
    std::uint32_t command;
    std::vector<std::uint32_t> arguments;
    std::uint8_t refused_code;
    std::uint32_t status;
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << "command_" << c.command; }

class RefusedCommand : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedCommand, GivesItsStatus) {
    const RefusedCase& c = GetParam();
    AppletDevice applet(failing(c.refused_code, 1));
    applet.prepare();
    const Mailbox reply = applet.run(c.command, c.arguments);
    EXPECT_EQ(reply.status(), c.status);
    EXPECT_EQ(reply.word(0x00), ~c.command);
    EXPECT_EQ(applet.issued().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, RefusedCommand,
    testing::Values(RefusedCase{command::lock, {17}, efc::slb, 4}, RefusedCase{command::unlock, {3}, efc::clb, 5},
                    RefusedCase{command::erase_all, {}, efc::ea, 6}, RefusedCase{command::gpnvm, {1, 2}, efc::sgpb, 15},
                    RefusedCase{command::security, {SECURITY_KEY}, efc::ssb, 15}));

TEST(StuckLock, UnlockOfARegionThatStaysLockedGivesStatus5) {
    sim::DeviceOptions options = device_options(0);
    options.stuck_locks = 1u << 9;
    AppletDevice applet(options);
    applet.prepare();
    EXPECT_EQ(applet.run(command::unlock, {8}).status(), 0u);
    EXPECT_EQ(applet.run(command::unlock, {9}).status(), 5u);
    EXPECT_EQ(applet.device().lock_bits(), 1u << 9);
    // With that region locked, the whole flash cannot be erased.
    EXPECT_EQ(applet.run(command::erase_all).status(), 4u);
}

}  // namespace
