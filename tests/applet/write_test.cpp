// WRITE, READ and CHECKSUM over flash that holds pseudo-random bytes.
#include "applet_device.h"

#include <gtest/gtest.h>

namespace {

// Every page erased and programmed with its even words, then programmed
// with its odd words: two WP commands per page.
std::vector<Issued> page_writes(int controller, std::uint32_t first_page, std::uint32_t pages) {
    std::vector<Issued> commands;
    for (std::uint32_t page = first_page; page < first_page + pages; ++page) {
        commands.push_back({controller, efc::wp, page});
        commands.push_back({controller, efc::wp, page});
    }
    return commands;
}

std::vector<Issued> operator+(std::vector<Issued> first, const std::vector<Issued>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::uint32_t fmcn(std::uint32_t fmr) { return fmr >> 16 & 0xFF; }

class FlashTest : public testing::Test {
protected:
    explicit FlashTest(std::uint32_t locked_regions = 0)
        : applet(device_options(locked_regions, flash.file())) {}
    void SetUp() override { applet.prepare(); }

    // Sends `data` to the buffer at `skew` bytes from its start and writes it.
    Mailbox write(std::uint32_t offset, const Bytes& data, std::uint32_t skew = 0) {
        const std::uint32_t source = applet.buffer().address + skew;
        applet.put(source, data);
        return applet.run(command::write, {source, static_cast<std::uint32_t>(data.size()), offset});
    }

    FilledFlash flash;
    AppletDevice applet;
};

using Write = FlashTest;

TEST_F(Write, HostPageAtTheStartProgramsFourPagesOfBankZero) {
    const Bytes data = random_bytes(1024, 10);
    const Mailbox reply = write(0, data);
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(reply.result(), 1024u);
    EXPECT_EQ(applet.issued(), page_writes(0, 0, 4));
    EXPECT_EQ(applet.whole_flash(), flash.with(0, data));
}

TEST_F(Write, HostPageAtTheEndOfBankZeroGoesOnInBankOne) {
    const Bytes data = random_bytes(1024, 11);
    const Mailbox reply = write(0x3FE00, data);
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(reply.result(), 1024u);
    EXPECT_EQ(applet.issued(), page_writes(0, 1022, 2) + page_writes(1, 0, 2));
    EXPECT_EQ(applet.whole_flash(), flash.with(0x3FE00, data));
}

TEST_F(Write, PartOfAPageKeepsTheRestOfIt) {
    const Bytes data = random_bytes(16, 12);
    const Mailbox reply = write(0x105, data, 3);
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(reply.result(), 16u);
    EXPECT_EQ(applet.issued(), page_writes(0, 1, 1));
    EXPECT_EQ(applet.whole_flash(), flash.with(0x105, data));
}

TEST_F(Write, WholeBufferFromAnUnalignedOffsetAcrossTheBanks) {
    const Bytes data = random_bytes(applet.buffer().size, 13);
    const std::uint32_t offset = 0x40000 - applet.buffer().size / 2 - 0x81;
    const Mailbox reply = write(offset, data, 2);
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(reply.result(), data.size());
    EXPECT_EQ(applet.whole_flash(), flash.with(offset, data));
}

TEST_F(Write, LastBytesOfTheFlash) {
    const Bytes data = random_bytes(17, 14);
    const Mailbox reply = write(flash_size - 17, data, 1);
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(applet.issued(), page_writes(1, 1023, 1));
    EXPECT_EQ(applet.whole_flash(), flash.with(flash_size - 17, data));
}

TEST_F(Write, LeavesBothControllersErasingBeforeProgrammingAtPageWriteTiming) {
    write(0x3FF00, random_bytes(512, 15));
    for (int controller = 0; controller < 2; ++controller) {
        const std::uint32_t fmr = applet.device().fmr(controller);
        EXPECT_EQ(fmr & 0x80, 0u) << "NEBP of EFC" << controller;
        EXPECT_EQ(fmcn(fmr), 72u) << "EFC" << controller;
    }
}

class LockedFlash : public FlashTest {
protected:
    LockedFlash() : FlashTest(0xFFFFFFFF) {}
};

TEST_F(LockedFlash, WriteOfZeroBytesChecksNoRegionAndDoesNothing) {
    const Mailbox reply = write(0x4000, {});
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(reply.result(), 0u);
    EXPECT_TRUE(applet.issued().empty());
    EXPECT_EQ(applet.whole_flash(), flash.contents());
}

struct Range {
    std::uint32_t offset;
    std::uint32_t count;
};

void PrintTo(const Range& range, std::ostream* out) {
    *out << std::hex << "offset_0x" << range.offset << "_count_0x" << range.count;
}

class BeyondTheFlash : public FlashTest, public testing::WithParamInterface<Range> {};

TEST_P(BeyondTheFlash, IsRefusedWithNothingWritten) {
    const auto [offset, count] = GetParam();
    const Mailbox reply = applet.run(command::write, {applet.buffer().address, count, offset});
    EXPECT_NE(reply.status(), 0u);
    EXPECT_EQ(reply.result(), 0u);
    EXPECT_TRUE(applet.issued().empty());
    EXPECT_EQ(applet.whole_flash(), flash.contents());
}

INSTANTIATE_TEST_SUITE_P(Write, BeyondTheFlash,
                         testing::Values(Range{flash_size - 0x100, 0x101}, Range{flash_size, 1},
                                         Range{0x100, 0xFFFFFF80}, Range{0xFFFFFF00, 0x200}));

// A source outside SRAM (an undefined area aborts the read), or SRAM's end
// inside the range.
class SourceOutsideSram : public FlashTest, public testing::WithParamInterface<Range> {};

TEST_P(SourceOutsideSram, IsRefusedWithNothingWritten) {
    const auto [source, count] = GetParam();
    const Mailbox reply = applet.run(command::write, {source, count, 0x1000});
    EXPECT_EQ(reply.status(), 1u);
    EXPECT_EQ(reply.result(), 0u);
    EXPECT_TRUE(applet.issued().empty());
    EXPECT_EQ(applet.whole_flash(), flash.contents());
}

INSTANTIATE_TEST_SUITE_P(Write, SourceOutsideSram,
                         testing::Values(Range{0x00000000, 0x100}, Range{0x001FFF00, 0x200},
                                         Range{sram_end - 0x100, 0x101}, Range{0xFFFFF000, 0x100}));

struct LockedCase {
    const char* name;
    std::uint32_t locked_region;
    Range range;
};

void PrintTo(const LockedCase& locked, std::ostream* out) { *out << locked.name; }

class LockedWrite : public FlashTest, public testing::WithParamInterface<LockedCase> {
protected:
    LockedWrite() : FlashTest(1u << GetParam().locked_region) {}
};

TEST_P(LockedWrite, IsRefusedBeforeAnyCommand) {
    const Range range = GetParam().range;
    const Mailbox reply = write(range.offset, random_bytes(range.count, 16));
    EXPECT_EQ(reply.status(), 4u);
    EXPECT_EQ(reply.result(), 0u);
    EXPECT_TRUE(applet.issued().empty());
    EXPECT_EQ(applet.whole_flash(), flash.contents());
}

INSTANTIATE_TEST_SUITE_P(
    Write, LockedWrite,
    testing::Values(LockedCase{"inside", 2, {0x8100, 1024}},
                    LockedCase{"last_byte_in_first_page", 5, {0x14000 - 0x100, 0x101}},
                    LockedCase{"first_byte_in_last_page", 5, {0x17FFF, 2}},
                    LockedCase{"middle_of_three", 9, {0x23FFF, 0x4002}},
                    LockedCase{"across_banks_locked_in_bank_0", 15, {0x3FE00, 1024}},
                    LockedCase{"across_banks_locked_in_bank_1", 16, {0x3FE00, 1024}},
                    LockedCase{"end_of_bank_1", 31, {flash_size - 0x100, 0x100}}),
    [](const testing::TestParamInfo<LockedCase>& info) { return info.param.name; });

class UnlockedWrite : public LockedWrite {};

TEST_P(UnlockedWrite, NextToALockedRegionIsCarriedOut) {
    const Range range = GetParam().range;
    const Bytes data = random_bytes(range.count, 17);
    const Mailbox reply = write(range.offset, data);
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(reply.result(), range.count);
    EXPECT_EQ(applet.whole_flash(), flash.with(range.offset, data));
}

INSTANTIATE_TEST_SUITE_P(
    Write, UnlockedWrite,
    testing::Values(LockedCase{"ending_before", 5, {0x14000 - 0x400, 0x400}},
                    LockedCase{"starting_after", 4, {0x14000, 0x400}},
                    LockedCase{"same_region_of_bank_1", 21, {0x14000, 0x400}},
                    LockedCase{"same_region_of_bank_0", 5, {0x54000, 0x400}}),
    [](const testing::TestParamInfo<LockedCase>& info) { return info.param.name; });

using Read = FlashTest;

TEST_F(Read, CopiesFlashIntoSram) {
    const std::uint32_t destination = applet.buffer().address + 1;
    const Bytes around = random_bytes(302, 18);
    applet.put(destination - 1, around);

    const Mailbox reply = applet.run(command::read, {destination, 300, 0x3FF7F});

    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(reply.result(), 300u);
    Bytes expected = around;
    std::copy_n(flash.contents().begin() + 0x3FF7F, 300, expected.begin() + 1);
    EXPECT_EQ(applet.sram(destination - 1, 302), expected);
    EXPECT_TRUE(applet.issued().empty());
}

TEST_F(Read, HostPageWordByWord) {
    const Mailbox reply = applet.run(command::read, {applet.buffer().address, 1024, 0x7FC00});
    EXPECT_EQ(reply.result(), 1024u);
    EXPECT_EQ(applet.sram(applet.buffer().address, 1024), applet.flash(0x7FC00, 1024));
}

// Anywhere but the buffer, a READ or CHECKSUM could overwrite the applet,
// its mailbox or its stack, or abort in an undefined area; past the flash it
// would read registers.
struct ReadCase {
    const char* name;
    std::uint32_t destination;
    std::uint32_t count;
    std::uint32_t offset;
    std::uint32_t command = command::read;
};

class ReadOutside : public FlashTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadOutside, IsRefusedWithNothingCopied) {
    const ReadCase& c = GetParam();
    // SRAM below the stack, apart from the mailbox, must stay as it was.
    constexpr std::uint32_t sram = 0x00200000;
    constexpr std::size_t below_stack = 0x7F00;
    const Bytes before = applet.sram(sram, below_stack);
    const Mailbox reply = applet.run(c.command, {c.destination, c.count, c.offset});
    EXPECT_EQ(reply.status(), 1u);
    EXPECT_EQ(reply.result(), 0u);
    Bytes after = applet.sram(sram, below_stack);
    std::copy_n(before.begin() + 0x2004, 128, after.begin() + 0x2004);
    EXPECT_TRUE(after == before);
}

INSTANTIATE_TEST_SUITE_P(
    Read, ReadOutside,
    testing::Values(ReadCase{"over_the_mailbox", 0x00202004, 16, 0},
                    ReadCase{"before_the_buffer", 0x00202AF3, 16, 0},
                    ReadCase{"into_the_stack", 0x00207EF8, 16, 0},
                    ReadCase{"undefined_area", 0x00000000, 16, 0},
                    ReadCase{"past_the_flash", 0x00202AF4, 16, flash_size - 8},
                    ReadCase{"offset_wrapping_round", 0x00202AF4, 16, 0xFFFFFFF8},
                    ReadCase{"checksum_past_the_flash", 0x00202AF4, 0x400, flash_size, command::checksum},
                    ReadCase{"checksum_over_the_end", 0x00202AF4, 0x800, flash_size - 0x400, command::checksum},
                    ReadCase{"checksum_offset_not_a_block", 0x00202AF4, 0x400, 0x200, command::checksum},
                    ReadCase{"checksum_count_not_a_block", 0x00202AF4, 0x600, 0, command::checksum},
                    ReadCase{"checksum_before_the_buffer", 0x00202AF0, 0x400, 0, command::checksum},
                    ReadCase{"checksum_results_into_the_stack", 0x00207EFC, 0x800, 0, command::checksum}),
    [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

// Bit by bit: the reference the applet's nibble table must agree with.
std::uint32_t crc32(const std::uint8_t* data, std::size_t count) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t bit = 0; bit < count * 8; ++bit) {
        const bool low = ((crc ^ data[bit / 8] >> bit % 8) & 1) != 0;
        crc = low ? crc >> 1 ^ 0xEDB88320 : crc >> 1;
    }
    return ~crc;
}

// The destination counts from the buffer's start.
class Checksum : public FlashTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(Checksum, GivesTheCrcOfEveryBlockAndNothingBesides) {
    const ReadCase& c = GetParam();
    ASSERT_EQ(crc32(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0xCBF43926u);
    const std::uint32_t destination = applet.buffer().address + c.destination;
    Bytes expected = random_bytes(c.count / 256 + 8, 20);
    applet.put(destination - 4, expected);
    const Mailbox reply = applet.run(command::checksum, {destination, c.count, c.offset});
    EXPECT_EQ(reply.status(), 0u);
    EXPECT_EQ(reply.result(), c.count);
    for (std::uint32_t at = 0; at < c.count; at += 1024) {
        const Bytes crc = little_endian({crc32(flash.contents().data() + c.offset + at, 1024)});
        std::copy(crc.begin(), crc.end(), expected.begin() + 4 + at / 256);
    }
    EXPECT_EQ(applet.sram(destination - 4, expected.size()), expected);
    EXPECT_TRUE(applet.issued().empty());
    // A bitwise CRC would take six times as long.
    EXPECT_LT(applet.device().run_instructions(), c.count * 8 + 20'000u);
}

INSTANTIATE_TEST_SUITE_P(Flash, Checksum,
                         testing::Values(ReadCase{"bank_0", 4, 0x2000, 0x4000},
                                         ReadCase{"across_banks", 1, 0x1000, 0x3F800},
                                         ReadCase{"whole_flash", 6, flash_size, 0}),
                         [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

}  // namespace
