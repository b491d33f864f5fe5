// CHECKSUM over flash that holds pseudo-random bytes, against a CRC-32
// computed here.
#include "applet_device.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t block_size = 1024;
constexpr std::uint32_t buffer_end = 0x00207F00;  // the stack above it

// Bit by bit, as slow as it is plain: the reference the applet's tables
// must agree with.
std::uint32_t crc32(const std::uint8_t* data, std::size_t count) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = crc >> 1 ^ (crc & 1 ? 0xEDB88320 : 0);
    }
    return ~crc;
}

struct Covered {
    const char* name;
    std::uint32_t offset;
    std::uint32_t count;
    std::uint32_t skew;  // of the destination from the buffer's start
};

void PrintTo(const Covered& covered, std::ostream* out) { *out << covered.name; }

class FilledApplet : public testing::Test {
protected:
    FilledApplet() : applet(device_options(0, flash.file())) {}
    void SetUp() override { applet.prepare(); }

    FilledFlash flash;
    AppletDevice applet;
};

class Checksum : public FilledApplet, public testing::WithParamInterface<Covered> {};

TEST(ChecksumReference, IsZlibsCrc32) {
    const std::string check = "123456789";
    EXPECT_EQ(crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0xCBF43926u);
}

TEST_P(Checksum, GivesTheCrcOfEveryBlockAndNoMore) {
    const Covered& c = GetParam();
    const std::uint32_t destination = applet.buffer().address + c.skew;
    const std::uint32_t blocks = c.count / block_size;
    const Bytes around = random_bytes(4 * blocks + 8, 20);
    applet.put(destination - 4, around);

    const Mailbox reply = applet.run(command::checksum, {destination, c.count, c.offset});

    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(reply.result(), c.count);
    std::vector<std::uint32_t> crcs;
    for (std::uint32_t at = c.offset; at < c.offset + c.count; at += block_size)
        crcs.push_back(crc32(flash.contents().data() + at, block_size));
    Bytes expected = around;
    const Bytes words = little_endian(crcs);
    std::copy(words.begin(), words.end(), expected.begin() + 4);
    EXPECT_EQ(applet.sram(destination - 4, expected.size()), expected);
    EXPECT_TRUE(applet.issued().empty());
    // A bit-by-bit CRC takes about six times as long.
    EXPECT_LT(applet.device().run_instructions(), c.count * 8 + 20'000u);
}

INSTANTIATE_TEST_SUITE_P(Flash, Checksum,
                         testing::Values(Covered{"in_bank_0", 0x4000, 0x2000, 0},
                                         Covered{"across_the_banks_unaligned_destination", 0x3F800, 0x1000, 1},
                                         Covered{"whole_flash", 0, flash_size, 4},
                                         Covered{"nothing", 0x1000, 0, 0}),
                         [](const testing::TestParamInfo<Covered>& info) { return info.param.name; });

struct Refused {
    const char* name;
    std::uint32_t destination;  // 0: the buffer's start
    std::uint32_t count;
    std::uint32_t offset;
};

void PrintTo(const Refused& refused, std::ostream* out) { *out << refused.name; }

class ChecksumRefused : public FilledApplet, public testing::WithParamInterface<Refused> {};

TEST_P(ChecksumRefused, LeavesSramAsItWas) {
    const Refused& c = GetParam();
    constexpr std::uint32_t sram = 0x00200000;
    constexpr std::size_t below_stack = 0x7F00;
    applet.put(applet.buffer().address, random_bytes(applet.buffer().size, 21));
    const Bytes before = applet.sram(sram, below_stack);

    const std::uint32_t destination = c.destination ? c.destination : applet.buffer().address;
    const Mailbox reply = applet.run(command::checksum, {destination, c.count, c.offset});

    EXPECT_EQ(reply.status(), 1u);
    EXPECT_EQ(reply.result(), 0u);
    // Apart from the mailbox.
    Bytes after = applet.sram(sram, below_stack);
    std::copy_n(before.begin() + 0x2004, 128, after.begin() + 0x2004);
    EXPECT_TRUE(after == before);
}

INSTANTIATE_TEST_SUITE_P(
    Flash, ChecksumRefused,
    testing::Values(Refused{"offset_past_the_flash", 0, block_size, flash_size},
                    Refused{"range_past_the_end", 0, 2 * block_size, flash_size - block_size},
                    Refused{"offset_wrapping_round", 0, 2 * block_size, 0u - block_size},
                    Refused{"offset_not_a_block", 0, block_size, 0x200},
                    Refused{"count_not_a_block", 0, 0x600, 0},
                    Refused{"destination_before_the_buffer", 0x00202AF0, block_size, 0},
                    Refused{"destination_over_the_mailbox", 0x00202004, block_size, 0},
                    Refused{"destination_in_the_stack", buffer_end, block_size, 0},
                    Refused{"results_running_into_the_stack", buffer_end - 4, 2 * block_size, 0}),
    [](const testing::TestParamInfo<Refused>& info) { return info.param.name; });

}  // namespace
