// The fault switches, as an updater under test meets them on the link.
#include "sim_process.h"
#include "support/run_program.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

const std::string greeting = "\x80\x80#";
const Bytes prompt = to_bytes("\n\r>");

class Fault : public testing::Test {
protected:
    void start(const std::vector<std::string>& arguments) {
        sim = std::make_unique<SimProcess>(folder.path(), arguments);
        sim->open_port();
    }
    std::uint32_t read_word(const std::string& address) {
        const Bytes reply = sim->ask("w" + address + ",4#", 15);
        if (reply.size() != 15) return 0xDEADDEAD;
        return static_cast<std::uint32_t>(std::stoul(std::string(reply.begin() + 4, reply.begin() + 12), nullptr, 16));
    }
    TempFolder folder;
    std::unique_ptr<SimProcess> sim;
};

using Greeting = Fault;

TEST_F(Greeting, SilentAnswersNothingButTheMonitorStillWorks) {
    start({"--greeting", "silent"});
    sim->send(greeting);
    EXPECT_TRUE(sim->drain().empty());
    EXPECT_EQ(sim->ask("W00201000,1#", 3), prompt);
}

TEST_F(Greeting, ShortAnswersOnlyLineFeedCarriageReturn) {
    start({"--greeting", "short"});
    sim->send(greeting);
    EXPECT_EQ(sim->drain(), to_bytes("\n\r"));
}

TEST_F(Greeting, WrongAnswersQuestionMark) {
    start({"--greeting", "wrong"});
    sim->send(greeting);
    EXPECT_EQ(sim->drain(), to_bytes("?\r>"));
}

using Replies = Fault;

TEST_F(Replies, BadPromptSpoilsOnlyTheNthWriteReply) {
    start({"--bad-prompt", "2"});
    sim->send(greeting);
    EXPECT_EQ(sim->receive(3), prompt);
    EXPECT_EQ(sim->ask("W00201000,1#", 3), prompt);
    EXPECT_EQ(sim->ask("w00201000,4#", 15), to_bytes("\n\r0x00000001\n\r>"));
    sim->send("S00201000,2#ab");
    EXPECT_EQ(sim->receive(3), to_bytes("\n\r?"));
    EXPECT_EQ(sim->ask("O00201000,1#", 3), prompt);
}

TEST_F(Replies, SilentAfterAnswersNothingMoreButCommandsStillAct) {
    start({"--silent-after", "2"});
    sim->send(greeting);
    EXPECT_EQ(sim->receive(3), prompt);
    EXPECT_EQ(sim->ask("w00201000,4#", 15).size(), 15u);
    sim->send("WFFFFFF64,5A00020B#");
    sim->send(greeting);
    EXPECT_TRUE(sim->drain().empty());
    const std::string status = sim->status();
    EXPECT_EQ(status_value(status, "gpnvm"), "[0, 0, 1]");
    EXPECT_EQ(status_number(status, "link.replies_out"), 2);
}

TEST_F(Replies, CloseAfterHangsUpWritesTheStatusAndExits) {
    start({"--close-after", "2", "--flash", (folder.path() / "flash.bin").string()});
    sim->send(greeting);
    EXPECT_EQ(sim->receive(3), prompt);
    EXPECT_EQ(sim->ask("w00201000,4#", 15).size(), 15u);
    EXPECT_TRUE(sim->hung_up(3s));
    // Told to stop while it winds up on its own: still a clean exit.
    sim->signal(SIGTERM);
    EXPECT_EQ(sim->wait_exit(), 0);
    EXPECT_TRUE(std::filesystem::exists(sim->status_file()));
}

TEST_F(Replies, TrickleSpreadsAReplyOutByteByByte) {
    start({"--trickle", "30"});
    const auto sent = steady::now();
    const Bytes reply = sim->ask("wFFFFF240,4#", 15);
    const auto took = steady::now() - sent;
    EXPECT_EQ(reply, to_bytes("\n\r0x272A0A40\n\r>"));
    // Fourteen gaps of at least 30 ms each.
    EXPECT_GE(took, 14 * 30ms);
}

TEST_F(Replies, LatencyDelaysEveryReply) {
    start({"--latency-ms", "80"});
    const auto sent = steady::now();
    EXPECT_EQ(sim->ask("W00201000,1#", 3), prompt);
    EXPECT_EQ(sim->ask("W00201000,1#", 3), prompt);
    EXPECT_GE(steady::now() - sent, 160ms);
    EXPECT_NEAR(status_number(sim->status(), "busy_ms"), 160, 0.01);
}

TEST_F(Replies, FlipByteSpoilsOneByteOfTheChosenSData) {
    start({"--flip-byte", "2:1:0F"});
    sim->send("S00201000,2#ab");
    EXPECT_EQ(sim->receive(3), prompt);
    EXPECT_EQ(read_word("00201000") & 0xFFFF, 0x6261u);
    EXPECT_EQ(status_value(sim->status(), "faults_fired"), "[]");
    sim->send("S00201000,2#ab");
    EXPECT_EQ(sim->receive(3), prompt);
    EXPECT_EQ(read_word("00201000") & 0xFFFF, 0x6D61u);  // 'b' XOR 0F
    EXPECT_EQ(status_value(sim->status(), "faults_fired"), "[\"flip-byte\"]");
}

using Chip = Fault;

TEST_F(Chip, ChipIdIsWhatTheOptionSays) {
    start({"--chip-id", "170a0940"});
    EXPECT_EQ(read_word("FFFFF240"), 0x170A0940u);
}

TEST_F(Chip, LockedRegionsAreLockedFromTheStart) {
    start({"--locked", "0,17,31"});
    EXPECT_EQ(read_word("FFFFFF68") >> 16, 1u);
    EXPECT_EQ(read_word("FFFFFF78") >> 16, (1u << 1) | (1u << 15));
    sim->ask("W00100000,00000000#", 3);
    sim->ask("WFFFFFF64,5A000001#", 3);
    EXPECT_EQ(read_word("FFFFFF68") & 0x4, 0x4u);
    EXPECT_EQ(read_word("00100000"), 0xFFFFFFFFu);
    EXPECT_EQ(status_value(sim->status(), "lock_bits"), "\"0x80020001\"");
}

TEST_F(Chip, FsrNeverReadyInEitherController) {
    start({"--fsr-never-ready"});
    EXPECT_EQ(read_word("FFFFFF68") & 1, 0u);
    EXPECT_EQ(read_word("FFFFFF78") & 1, 0u);
}

TEST_F(Chip, CorruptInvertsTheByteOnceItsPageIsProgrammed) {
    start({"--corrupt", "100102"});
    sim->ask("W00100100,44332211#", 3);
    sim->ask("WFFFFFF64,5A000101#", 3);
    EXPECT_EQ(read_word("00100100"), 0x44CC2211u);
}

TEST_F(Chip, RealisticTimingShowsTheControllerBusyRightAfterACommand) {
    // Realistic, with a page program slow enough for a loaded machine.
    start({"--timing", "realistic", "--wp-ms", "400"});
    sim->ask("WFFFFFF64,5A000001#", 3);
    EXPECT_EQ(read_word("FFFFFF68") & 1, 0u);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(read_word("FFFFFF68") & 1, 1u);
    // 400 ms of programming and a millisecond before each of three replies,
    // besides the bytes' time on the link.
    const std::string status = sim->status();
    EXPECT_NEAR(status_number(status, "busy_ms") - status_number(status, "link.transfer_ms"), 403, 0.01);
}

TEST_F(Chip, HungCodeSilencesTheDeviceAndSaysWhy) {
    start({"--budget", "100000"});
    sim->send(std::string("S00202000,4#") + "\xFE\xFF\xFF\xEA");  // B .
    EXPECT_EQ(sim->receive(3), prompt);
    sim->send("G00202000#");
    sim->send(greeting);
    EXPECT_TRUE(sim->drain(500ms).empty());
    const std::string status = sim->status();
    const std::string hang = status_value(status, "hang");
    EXPECT_NE(hang, "null");
    EXPECT_EQ(hang.front(), '"');
    EXPECT_EQ(status_number(status, "run_instructions"), 100000);
    EXPECT_NE(sim->standard_error().find("did not return"), std::string::npos);
}

using Fired = Fault;

TEST_F(Fired, StatusNamesOnlyTheSwitchesThatActed) {
    start({"--fail-command", "0B:2", "--bad-prompt", "3", "--ignore-lock", "4", "--skip-run", "1"});
    EXPECT_EQ(sim->ask("WFFFFFF64,5A00020B#", 3), prompt);  // the first SGPB acts
    EXPECT_EQ(status_value(sim->status(), "faults_fired"), "[]");
    sim->ask("WFFFFFF64,5A010002#", 3);                      // SLB of region 4
    EXPECT_EQ(sim->ask("WFFFFFF64,5A00010B#", 3), to_bytes("\n\r?"));  // the second SGPB
    EXPECT_EQ(status_value(sim->status(), "faults_fired"), "[\"bad-prompt\", \"fail-command\", \"ignore-lock\"]");
}

}  // namespace
