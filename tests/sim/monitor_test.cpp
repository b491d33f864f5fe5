// The monitor's interpreter in-process, on a clock the test sets: framing,
// robustness and the patience rule, without a pseudo-terminal.
#include "arm_code.h"
#include "sim/monitor.h"
#include "support/byte_io.h"

#include <gtest/gtest.h>

namespace {

using Clock = sim::Monitor::Clock;
using namespace std::chrono_literals;

const Bytes greeting = {0x80, 0x80, '#'};
const Bytes prompt = bytes_of("\n\r>");

class Monitor : public testing::Test {
protected:
    Monitor() : device(options()), monitor(device, [this](const sim::Reply& reply) { replies.push_back(reply); }) {}

    static sim::DeviceOptions options() {
        sim::DeviceOptions options;
        options.instruction_budget = 100'000;
        return options;
    }
    // Sends at the test's clock, which only moves when the test says so.
    void send(const Bytes& data) { monitor.receive(data.data(), data.size(), now); }
    void send(const std::string& text) { send(bytes_of(text)); }
    void wait(Clock::duration span) {
        now += span;
        monitor.expire(now);
    }
    Bytes last_reply() const { return replies.empty() ? Bytes{} : replies.back().bytes; }
    std::uint64_t count(sim::Frame frame) const { return monitor.counters().frames[static_cast<int>(frame)]; }

    sim::Device device;
    sim::Monitor monitor;
    std::vector<sim::Reply> replies;
    Clock::time_point now = Clock::now();
};

using Framing = Monitor;

TEST_F(Framing, CommandsSplitAcrossManyReadsStillParse) {
    for (const char c : std::string("W00201000,0000BEEF#")) send(std::string(1, c));
    EXPECT_EQ(last_reply(), prompt);
    EXPECT_EQ(device.read_word(0x00201000), 0xBEEFu);
}

TEST_F(Framing, ManyCommandsInOneReadAreAnsweredInOrder) {
    send("W00201000,00000011#w00201000,4#o00201000,1#");
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].frame, sim::Frame::W);
    EXPECT_EQ(replies[1].bytes, bytes_of("\n\r0x00000011\n\r>"));
    EXPECT_EQ(replies[2].bytes, bytes_of("\n\r0x11\n\r>"));
}

TEST_F(Framing, LowerCaseAndShortFieldsAreAccepted) {
    send("W201000,cafe#");
    send("w00201000#");
    EXPECT_EQ(last_reply(), bytes_of("\n\r0x0000CAFE\n\r>"));
    send("wfffff240,4#");
    EXPECT_EQ(last_reply(), bytes_of("\n\r0x272A0A40\n\r>"));
}

TEST_F(Framing, SDataMayHoldSyncBytesAndFrameEnds) {
    const Bytes data = {0x80, 0x80, '#', 'W', '#', 0x00};
    send("S00201000,6#");
    EXPECT_TRUE(replies.empty());
    send(data);
    EXPECT_EQ(last_reply(), prompt);
    Bytes stored(data.size());
    device.read_memory(0x00201000, stored.data(), stored.size());
    EXPECT_EQ(stored, data);
    EXPECT_EQ(count(sim::Frame::greeting), 0u);
}

TEST_F(Framing, SOfNoBytesIsAnsweredAtOnce) {
    send("S00201000,0#");
    EXPECT_EQ(last_reply(), prompt);
}

TEST_F(Framing, BlockReadCarriesTheBytesBetweenItsMarks) {
    const Bytes data = {1, 2, 3, '>', 0x80};
    device.write_memory(0x00201000, data.data(), data.size());
    send("R00201000,00000005#");
    EXPECT_EQ(last_reply(), (Bytes{'\n', '\r', 1, 2, 3, '>', 0x80, '>'}));
}

using Robustness = Monitor;

TEST_F(Robustness, FramesThatDoNotParseAreDroppedAndCounted) {
    const std::string broken[] = {
        "X00201000,1#",          // unknown letter
        "W00201000#",            // missing value
        "W002010000,1#",         // nine digits
        "W0020100G,1#",          // not a digit
        "W00201000;00000001#",   // no comma
        "W00201000,,1#",         // empty field
        "G00202000,1#",          // a field too many
        "#",                     // empty frame
        "R00200000,00100001#",   // more than 1 MiB
        "W00201000,00000001" + std::string(20, '0') + "#",  // over 32 bytes
    };
    for (const std::string& frame : broken) send(frame);
    EXPECT_TRUE(replies.empty());
    EXPECT_EQ(monitor.counters().rejected, std::size(broken));
    EXPECT_EQ(monitor.counters().received, std::size(broken));
    EXPECT_EQ(device.read_word(0x00201000), 0u);
    send("w00201000,4#");
    EXPECT_EQ(last_reply(), bytes_of("\n\r0x00000000\n\r>"));
}

TEST_F(Robustness, SyncByteAbandonsAPartialCommand) {
    send("W00201000,000");
    send(greeting);
    EXPECT_EQ(last_reply(), prompt);
    EXPECT_EQ(count(sim::Frame::greeting), 1u);
    EXPECT_EQ(monitor.counters().rejected, 1u);
    EXPECT_EQ(device.read_word(0x00201000), 0u);
}

TEST_F(Robustness, PartialCommandIsAbandonedAfterHalfASecondOfSilence) {
    send("W00201000,000000");
    wait(499ms);
    send("01#");  // still the same command
    EXPECT_EQ(device.read_word(0x00201000), 1u);
    send("W00201000,000000");
    wait(500ms);
    send("w00201000,4#");
    EXPECT_EQ(last_reply(), bytes_of("\n\r0x00000001\n\r>"));
    EXPECT_EQ(monitor.counters().rejected, 1u);
}

TEST_F(Robustness, PartialSDataIsAbandonedAfterHalfASecondOfSilence) {
    send("S00201000,00000010#");
    send(Bytes(8, 0x55));
    ASSERT_TRUE(monitor.deadline());
    EXPECT_EQ(*monitor.deadline(), now + sim::Monitor::patience);
    wait(600ms);
    EXPECT_FALSE(monitor.deadline());
    send(greeting);
    EXPECT_EQ(last_reply(), prompt);
    EXPECT_EQ(count(sim::Frame::greeting), 1u);
}

TEST_F(Robustness, HungCodeSilencesTheMonitorForGood) {
    load_code(device, 0x00202000, {arm::b(0x00202000, 0x00202000)});
    send("G00202000#");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].hung);
    EXPECT_TRUE(replies[0].bytes.empty());
    ASSERT_TRUE(monitor.hang());
    send(greeting);
    send("w00201000,4#");
    EXPECT_EQ(replies.size(), 1u);
}

TEST_F(Robustness, ReturningCodeIsAnsweredWithTwoBytes) {
    load_code(device, 0x00202000, {arm::bx(arm::lr)});
    send("G00202000#");
    EXPECT_EQ(last_reply(), bytes_of("\n\r"));
    EXPECT_FALSE(monitor.hang());
}

}  // namespace
