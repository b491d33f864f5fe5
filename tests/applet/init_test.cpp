// INIT, the completion of every command, and the acknowledge on the debug unit.
#include "applet_device.h"

#include "applet/mailbox.h"
#include "flash/applet_image.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t mc_fmr[2] = {0xFFFFFF60, 0xFFFFFF70};

TEST(Init, FreshUploadReportsTheFlashAndKeepsTheRestOfTheMailbox) {
    AppletDevice applet;
    applet.upload();
    applet.write_mailbox(0x04, little_endian({0xFFFFFFFF}));
    const Bytes tail = random_bytes(128 - 0x18, 1);
    applet.write_mailbox(0x18, tail);

    const Mailbox reply = applet.start();

    EXPECT_EQ(reply.word(0x00), 0xFFFFFFFFu);
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(reply.word(0x08), flash_size);
    EXPECT_EQ(reply.half(0x14), 0x4000);
    EXPECT_EQ(reply.half(0x16), 32);
    EXPECT_EQ(Bytes(reply.bytes.begin() + 0x18, reply.bytes.end()), tail);
}

TEST(Init, ReportsABufferOfWholePagesBeyondTheImage) {
    AppletDevice applet;
    applet.prepare();
    const Buffer buffer = applet.buffer();
    EXPECT_GE(buffer.address, APPLET_LOAD_ADDRESS + applet_image().size());
    EXPECT_EQ(buffer.address % 4, 0u);
    EXPECT_GE(buffer.size, 1024u);
    EXPECT_EQ(buffer.size % 256, 0u);
    EXPECT_LE(buffer.address + buffer.size, sram_end);
}

// The stack and the data area must stay out of the buffer the host fills.
TEST(Init, CommandsLeaveEveryByteOfTheBuffer) {
    AppletDevice applet;
    applet.prepare();
    const Buffer buffer = applet.buffer();
    const Bytes contents = random_bytes(buffer.size, 2);
    applet.put(buffer.address, contents);

    EXPECT_EQ(applet.run(command::write, {buffer.address, 1024, 0}).status(), 0u);
    const std::uint32_t last_page = buffer.address + buffer.size - 1024;
    EXPECT_EQ(applet.run(command::write, {last_page + 1, 1023, 0x40001}).status(), 0u);
    EXPECT_EQ(applet.run(command::lock, {3}).status(), 0u);
    EXPECT_EQ(applet.run(command::gpnvm, {1, 2}).status(), 0u);
    EXPECT_EQ(applet.run(command::init, {0}).status(), 0u);

    EXPECT_EQ(applet.sram(buffer.address, buffer.size), contents);
    EXPECT_EQ(applet.flash(0, 1024), Bytes(contents.begin(), contents.begin() + 1024));
    EXPECT_EQ(applet.flash(0x40001, 1023), Bytes(contents.end() - 1023, contents.end()));
}

TEST(Init, ErasesBeforeProgrammingWithoutInterruptsAndKeepsTheHostsTiming) {
    AppletDevice applet;
    applet.upload();
    // FMCN 0x34 and FWS 2 as the host sets them, with NEBP and the interrupt enables on.
    for (std::uint32_t fmr : mc_fmr) applet.device().write_word(fmr, 0x0034028D);

    applet.start();

    EXPECT_EQ(applet.device().fmr(0), 0x00340200u);
    EXPECT_EQ(applet.device().fmr(1), 0x00340200u);
    EXPECT_TRUE(applet.issued().empty());
}

class EveryCommand : public testing::TestWithParam<std::uint32_t> {};

TEST_P(EveryCommand, EndsWithTheComplementOfItsCode) {
    AppletDevice applet;
    applet.prepare();
    // Arguments that ask for nothing harmful of any command; SECURITY wants its key.
    const Mailbox reply = applet.run(GetParam(), {GetParam() == command::security ? SECURITY_KEY : 0, 0, 0});
    EXPECT_EQ(reply.word(0x00), ~GetParam());
    EXPECT_EQ(reply.status(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Completion, EveryCommand,
                         testing::Values(command::init, command::erase_all, command::write, command::read,
                                         command::lock, command::unlock, command::gpnvm, command::security,
                                         command::checksum));

class UnknownCommand : public testing::TestWithParam<std::uint32_t> {};

TEST_P(UnknownCommand, ChangesOnlyTheCommandWord) {
    AppletDevice applet;
    applet.prepare();
    Bytes before = random_bytes(128, 3);
    applet.write_mailbox(0, before);
    applet.write_mailbox(0, little_endian({GetParam()}));

    const Mailbox reply = applet.start();

    const Bytes complement = little_endian({~GetParam()});
    std::copy(complement.begin(), complement.end(), before.begin());
    EXPECT_EQ(Bytes(reply.bytes.begin(), reply.bytes.end()), before);
    EXPECT_TRUE(applet.issued().empty());
}

INSTANTIATE_TEST_SUITE_P(Completion, UnknownCommand, testing::Values(9u, 10u, 0x80000000u, 0xFFFFFFFFu));

TEST(Acknowledge, LinkTypeOneSendsOneByteAfterThatInitAndEveryLaterCommand) {
    AppletDevice applet;
    applet.prepare(1);
    EXPECT_EQ(applet.device().debug_unit_output(), Bytes{0x06});

    struct Step {
        std::uint32_t code;
        std::vector<std::uint32_t> arguments;
    };
    const std::uint32_t buffer = applet.buffer().address;
    const Step steps[] = {
        {command::read, {buffer, 16, 0}}, {command::write, {buffer, 16, 0}}, {command::lock, {7}},
        {command::unlock, {7}},           {command::gpnvm, {1, 0}},          {command::erase_all, {}},
        {command::security, {}},          {9, {}},
    };
    Bytes expected{0x06};
    for (const Step& step : steps) {
        applet.run(step.code, step.arguments);
        expected.push_back(0x06);
        EXPECT_EQ(applet.device().debug_unit_output(), expected) << "after command " << step.code;
    }
}

class QuietLink : public testing::TestWithParam<std::uint32_t> {};

TEST_P(QuietLink, SendsNothing) {
    AppletDevice applet;
    applet.prepare(GetParam());
    applet.run(command::lock, {1});
    applet.run(command::read, {applet.buffer().address, 4, 0});
    applet.run(9);
    EXPECT_TRUE(applet.device().debug_unit_output().empty());
}

INSTANTIATE_TEST_SUITE_P(Acknowledge, QuietLink, testing::Values(0u, 2u, 0x101u));

}  // namespace
