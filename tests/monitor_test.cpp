// The monitor command codec and the direct flash-controller work, against a
// scripted monitor at the far end of a pseudo-terminal. Replies are queued
// before each command: the codec reads exact lengths, so they stay in step.
#include "flash/flash_controller.h"
#include "flash/geometry.h"
#include "link/monitor.h"
#include "support/open_port.h"

#include <cstring>

namespace {

const std::string write_reply = "\n\r>";

std::string word_reply(const std::string& digits) { return "\n\r0x" + digits + "\n\r>"; }

using Codec = OpenPort;

TEST_F(Codec, WriteFramesCarryFullWidthCapitalFields) {
    device->send(bytes_of(write_reply + write_reply + write_reply));
    EXPECT_EQ(monitor_write_word(0xFFFFFF60, 0x00340200), MonitorResult::ok);
    EXPECT_EQ(monitor_write_half(0x00200010, 0x1234ABCD), MonitorResult::ok);
    EXPECT_EQ(monitor_write_byte(0x00200011, 0x1FE), MonitorResult::ok);
    EXPECT_EQ(device->drain(), bytes_of("WFFFFFF60,00340200#" "H00200010,ABCD#" "O00200011,FE#"));
}

TEST_F(Codec, ReadFramesAndTheirReplyLengths) {
    device->send(bytes_of(word_reply("272A0A40") + "\n\r0xBEEF\n\r>" + "\n\r0x5A\n\r>"));
    std::uint32_t value = 0;
    EXPECT_EQ(monitor_read_word(0xFFFFF240, value), MonitorResult::ok);
    EXPECT_EQ(value, 0x272A0A40u);
    EXPECT_EQ(monitor_read_half(0x00200000, value), MonitorResult::ok);
    EXPECT_EQ(value, 0xBEEFu);
    EXPECT_EQ(monitor_read_byte(0x00200000, value), MonitorResult::ok);
    EXPECT_EQ(value, 0x5Au);
    EXPECT_EQ(device->drain(), bytes_of("wFFFFF240,4#" "h00200000,2#" "o00200000,1#"));
}

TEST_F(Codec, LowerCaseOrStrayReplyDigitsCountZero) {
    device->send(bytes_of(word_reply("272a0a40") + word_reply("12 4-6G8")));
    std::uint32_t value = 0;
    ASSERT_EQ(monitor_read_word(0xFFFFF240, value), MonitorResult::ok);
    EXPECT_EQ(value, 0x27200040u);
    ASSERT_EQ(monitor_read_word(0xFFFFF240, value), MonitorResult::ok);
    EXPECT_EQ(value, 0x12040608u);
}

TEST_F(Codec, GoSendsTenCharactersAndReadsNothing) {
    device->send(bytes_of("\n\r"));
    EXPECT_EQ(monitor_go(0x00202000), MonitorResult::ok);
    EXPECT_EQ(device->drain(), bytes_of("G00202000#"));
    char after_go[2];
    EXPECT_EQ(port_read(after_go, 2), PortRead::complete);
}

TEST_F(Codec, PageSendIsFrameThenDataThenPrompt) {
    unsigned char page[page_size];
    for (std::uint32_t i = 0; i < page_size; ++i) page[i] = static_cast<unsigned char>(i * 7);
    device->send(bytes_of(write_reply));
    EXPECT_EQ(monitor_send_block(0x00202AF4, page, page_size), MonitorResult::ok);
    Bytes expected = bytes_of("S00202AF4,00000400#");
    expected.insert(expected.end(), page, page + page_size);
    EXPECT_EQ(device->drain(), expected);
}

TEST_F(Codec, PageReadFillsThePageBufferAndWantsTheClosingPrompt) {
    Bytes reply = bytes_of("\n\r");
    for (std::uint32_t i = 0; i < page_size; ++i) reply.push_back(static_cast<std::uint8_t>(255 - i));
    reply.push_back('>');
    device->send(reply);
    unsigned char page[page_size] = {};
    EXPECT_EQ(monitor_read_block(0x00100400, page, page_size), MonitorResult::ok);
    EXPECT_EQ(device->drain(), bytes_of("R00100400,00000400#"));
    EXPECT_EQ(Bytes(page, page + page_size), Bytes(reply.begin() + 2, reply.end() - 1));

    reply.back() = '?';
    device->send(reply);
    EXPECT_EQ(monitor_read_block(0x00100400, page, page_size), MonitorResult::no_prompt);
    EXPECT_FALSE(port_is_closed());
}

TEST_F(Codec, WrongPromptIs3AndTheLinkGoesOn) {
    device->send(bytes_of("\n\r?" + write_reply));
    EXPECT_EQ(monitor_write_word(0x00200000, 1), MonitorResult::no_prompt);
    EXPECT_FALSE(port_is_closed());
    EXPECT_EQ(monitor_write_word(0x00200004, 2), MonitorResult::ok);
    EXPECT_EQ(device->drain(), bytes_of("W00200000,00000001#" "W00200004,00000002#"));
}

TEST_F(Codec, AFailureClosesThePortAndEveryLaterCommandFails) {
    device->send(bytes_of("\n\r"));  // one byte short
    EXPECT_EQ(monitor_write_word(0x00200000, 1), MonitorResult::not_read);
    EXPECT_TRUE(port_is_closed());
    device->drain();
    StdoutCapture console;
    std::uint32_t value = 0;
    unsigned char page[page_size] = {};
    EXPECT_EQ(monitor_write_word(0x00200000, 1), MonitorResult::not_sent);
    EXPECT_EQ(monitor_read_word(0xFFFFF240, value), MonitorResult::not_sent);
    EXPECT_EQ(monitor_send_block(0x00202AF4, page, page_size), MonitorResult::not_sent);
    EXPECT_EQ(monitor_read_block(0x00100000, page, page_size), MonitorResult::not_sent);
    EXPECT_EQ(monitor_go(0x00202000), MonitorResult::not_sent);
    EXPECT_EQ(console.text(), "");
    EXPECT_TRUE(device->drain().empty());
}

using DirectAccess = OpenPort;

const std::string cancel_frames_head = "WFFFFFF54,00000000#" "WFFFFFF60,00490100#";
const std::string status_read = "wFFFFFF68,4#";
const std::string set_boot_bit = "WFFFFFF64,5A00020B#";

std::string repeated(const std::string& text, int times) {
    std::string all;
    while (times-- > 0) all += text;
    return all;
}

TEST_F(DirectAccess, FlashModesGoToBothControllers) {
    device->send(bytes_of(write_reply + write_reply));
    EXPECT_EQ(set_flash_modes(), FlashResult::ok);
    EXPECT_EQ(device->drain(), bytes_of("WFFFFFF60,00340200#" "WFFFFFF70,00340200#"));

    device->send(bytes_of("\n\r!"));
    EXPECT_EQ(set_flash_modes(), FlashResult::write_failed);
    EXPECT_EQ(device->drain(), bytes_of("WFFFFFF60,00340200#"));
}

TEST_F(DirectAccess, ReadyAtOnceTakesExactlyFiveCommands) {
    device->send(bytes_of(write_reply + write_reply + word_reply("00000001") + write_reply +
                          word_reply("00000401")));
    StdoutCapture console;
    EXPECT_EQ(cancel_programming_mode(), FlashResult::ok);
    EXPECT_EQ(device->drain(), bytes_of(cancel_frames_head + status_read + set_boot_bit + status_read));
    // The banner is the device stage's, once it knows the outcome.
    EXPECT_EQ(console.text(), "");
}

TEST_F(DirectAccess, ReadyAtTheTenthPollStillSucceeds) {
    device->send(bytes_of(write_reply + write_reply + repeated(word_reply("00000000"), 9) +
                          word_reply("00000001") + write_reply + repeated(word_reply("FFFFFFF2"), 9) +
                          word_reply("00000401")));
    StdoutCapture console;
    EXPECT_EQ(cancel_programming_mode(), FlashResult::ok);
    EXPECT_EQ(device->drain(), bytes_of(cancel_frames_head + repeated(status_read, 10) + set_boot_bit +
                                        repeated(status_read, 10)));
}

TEST_F(DirectAccess, RefusedOrUnsetBootBitIs7) {
    // LOCKE at one poll, cleared by that read, before the ready one; then a
    // clean ready status without GPNVM2.
    for (const std::string& after_command : {word_reply("00000404") + word_reply("00000401"), word_reply("00000001")}) {
        SCOPED_TRACE(after_command);
        device->send(bytes_of(write_reply + write_reply + word_reply("00000001") + write_reply + after_command));
        StdoutCapture console;
        EXPECT_EQ(cancel_programming_mode(), FlashResult::boot_bit_not_set);
        EXPECT_EQ(console.text(), "");
        EXPECT_FALSE(port_is_closed());
        device->drain();
    }
}

TEST_F(DirectAccess, StatusChangedBeyondTheBootBitIs7) {
    // The boot bit was already set; the command that arrived set the
    // security bit instead.
    device->send(bytes_of(write_reply + write_reply + word_reply("00000401") + write_reply + word_reply("00000411")));
    StdoutCapture console;
    EXPECT_EQ(cancel_programming_mode(), FlashResult::boot_bit_not_set);
    EXPECT_EQ(console.text(), "");
    EXPECT_EQ(device->drain(), bytes_of(cancel_frames_head + status_read + set_boot_bit + status_read));
}

TEST_F(DirectAccess, NeverReadyBeforeTheCommandIs5) {
    device->send(bytes_of(write_reply + write_reply + repeated(word_reply("00000000"), 10)));
    StdoutCapture console;
    EXPECT_EQ(cancel_programming_mode(), FlashResult::not_ready_before);
    EXPECT_EQ(device->drain(), bytes_of(cancel_frames_head + repeated(status_read, 10)));
    EXPECT_EQ(console.text(), "");
}

TEST_F(DirectAccess, NeverReadyAfterTheCommandIs6) {
    device->send(bytes_of(write_reply + write_reply + word_reply("00000001") + write_reply +
                          repeated(word_reply("0000000E"), 10)));
    StdoutCapture console;
    EXPECT_EQ(cancel_programming_mode(), FlashResult::not_ready_after);
    EXPECT_EQ(device->drain(),
              bytes_of(cancel_frames_head + status_read + set_boot_bit + repeated(status_read, 10)));
}

TEST_F(DirectAccess, FailedStatusReadIs4AtOnce) {
    device->send(bytes_of(write_reply + write_reply + "\n\r0x0000"));
    StdoutCapture console;
    EXPECT_EQ(cancel_programming_mode(), FlashResult::status_unreadable);
    EXPECT_EQ(device->drain(), bytes_of(cancel_frames_head + status_read));
    EXPECT_TRUE(port_is_closed());
}

TEST_F(DirectAccess, FailedRegisterWriteIs1) {
    device->send(bytes_of(write_reply + "\n\r"));
    EXPECT_EQ(cancel_programming_mode(), FlashResult::write_failed);
    EXPECT_EQ(device->drain(), bytes_of(cancel_frames_head));
}

TEST_F(DirectAccess, StatusComesFromTheChosenController) {
    device->send(bytes_of(word_reply("00000000") + word_reply("FFFF0001")));
    std::uint32_t status = 1;
    EXPECT_EQ(read_flash_status(0, status), FlashResult::ok);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(read_flash_status(1, status), FlashResult::ok);
    EXPECT_EQ(status, 0xFFFF0001u);
    EXPECT_EQ(device->drain(), bytes_of(status_read + "wFFFFFF78,4#"));
}

}  // namespace
