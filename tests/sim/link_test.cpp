// zelmiran-sim through its pseudo-terminal, used as the updater uses it:
// the replies to every command, resynchronisation, and runs one after another.
#include "sim_process.h"
#include "support/run_program.h"

#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const std::string greeting = "\x80\x80#";
const Bytes prompt = to_bytes("\n\r>");

// Two words of ARM code at 0x00202000: store r1 (zero at entry) to 0x00201000, return.
const std::string store_and_return_code = {
    '\x00', '\x10', '\xA0', '\xE3',  // MOV r1, #0
    '\x04', '\x30', '\x9F', '\xE5',  // LDR r3, [pc, #4]
    '\x00', '\x10', '\x83', '\xE5',  // STR r1, [r3]
    '\x1E', '\xFF', '\x2F', '\xE1',  // BX LR
    '\x00', '\x10', '\x20', '\x00',  // 0x00201000
};

class Link : public testing::Test {
protected:
    void start(const std::vector<std::string>& arguments = {}) {
        sim = std::make_unique<SimProcess>(folder.path(), arguments);
        sim->open_port();
    }
    TempFolder folder;
    std::unique_ptr<SimProcess> sim;
};

using Commands = Link;

TEST_F(Commands, GreetingIsAnsweredWithLineFeedCarriageReturnAndPrompt) {
    start();
    sim->send(greeting);
    EXPECT_EQ(sim->drain(), prompt);
}

TEST_F(Commands, WordHalfAndByteWritesAndReadsHaveTheirReplyShapes) {
    start();
    EXPECT_EQ(sim->ask("W00201000,8badF00d#", 3), prompt);
    EXPECT_EQ(sim->ask("w00201000,4#", 15), to_bytes("\n\r0x8BADF00D\n\r>"));
    EXPECT_EQ(sim->ask("H00201002,1234#", 3), prompt);
    EXPECT_EQ(sim->ask("h00201002,2#", 11), to_bytes("\n\r0x1234\n\r>"));
    EXPECT_EQ(sim->ask("O00201000,7E#", 3), prompt);
    EXPECT_EQ(sim->ask("o00201000,1#", 9), to_bytes("\n\r0x7E\n\r>"));
    EXPECT_EQ(sim->ask("w00201000,4#", 15), to_bytes("\n\r0x1234F07E\n\r>"));
    EXPECT_TRUE(sim->drain(200ms).empty());
}

TEST_F(Commands, ChipIdentificationReadsAsTheUpdaterChecksIt) {
    start();
    const Bytes reply = sim->ask("wFFFFF240,4#", 15);
    ASSERT_EQ(reply.size(), 15u);
    const std::uint32_t value = std::stoul(std::string(reply.begin() + 4, reply.begin() + 12), nullptr, 16);
    EXPECT_EQ(value & 0x0FFF0F00, 0x072A0A00u);
    EXPECT_EQ(sim->ask("wFFFFF244,4#", 15), to_bytes("\n\r0x00000000\n\r>"));
}

TEST_F(Commands, BlockWriteAndReadCarryAKibibyte) {
    start();
    Bytes block(1024);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    sim->send("S00202AF4,00000400#");
    EXPECT_TRUE(sim->receive(1, 100ms).empty());
    sim->send(block);
    EXPECT_EQ(sim->receive(3), prompt);
    sim->send("R00202AF4,00000400#");
    const Bytes reply = sim->receive(1027);
    ASSERT_EQ(reply.size(), 1027u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 2), to_bytes("\n\r"));
    EXPECT_EQ(Bytes(reply.begin() + 2, reply.end() - 1), block);
    EXPECT_EQ(reply.back(), '>');
    EXPECT_TRUE(sim->drain(200ms).empty());
}

TEST_F(Commands, GoRunsTheCodeAndAnswersExactlyTwoBytes) {
    start();
    EXPECT_EQ(sim->ask("W00201000,FFFFFFFF#", 3), prompt);
    sim->send("S00202000,00000014#" + store_and_return_code);
    EXPECT_EQ(sim->receive(3), prompt);
    sim->send("G00202000#");
    EXPECT_EQ(sim->drain(), to_bytes("\n\r"));
    EXPECT_EQ(sim->ask("w00201000,4#", 15), to_bytes("\n\r0x00000000\n\r>"));
}

TEST_F(Commands, FlashControllerCommandThroughAWordWriteSetsGpnvm2) {
    start();
    EXPECT_EQ(sim->ask("WFFFFFF64,5A00020B#", 3), prompt);
    const Bytes reply = sim->ask("wFFFFFF68,4#", 15);
    EXPECT_EQ(reply, to_bytes("\n\r0x00000401\n\r>"));
    EXPECT_EQ(status_value(sim->status(), "gpnvm"), "[0, 0, 1]");
}

TEST_F(Commands, FlashIsProgrammedThroughTheLatchAndReadBack) {
    start();
    sim->ask("W00140100,11223344#", 3);
    EXPECT_EQ(sim->ask("w00140100,4#", 15), to_bytes("\n\r0xFFFFFFFF\n\r>"));
    sim->ask("WFFFFFF74,5A000101#", 3);
    EXPECT_EQ(sim->ask("w00140100,4#", 15), to_bytes("\n\r0x11223344\n\r>"));
}

using Resynchronisation = Link;

TEST_F(Resynchronisation, GarbageAndUnknownLettersAreSkippedWithoutLosingStep) {
    start();
    sim->send("hello\r\nX1234#Q#W0020100,#zzzz");
    sim->send(greeting);
    EXPECT_EQ(sim->receive(3), prompt);
    EXPECT_EQ(sim->ask("w00201000,4#", 15), to_bytes("\n\r0x00000000\n\r>"));
    const std::string status = sim->status();
    EXPECT_EQ(status_number(status, "monitor.rejected"), 4);
    EXPECT_EQ(status_number(status, "monitor.greeting"), 1);
}

TEST_F(Resynchronisation, PartialCommandIsForgottenAfterSilence) {
    start();
    sim->send("W00201000,000000");
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(sim->ask("w00201000,4#", 15), to_bytes("\n\r0x00000000\n\r>"));
}

TEST_F(Resynchronisation, PartialBlockIsForgottenAfterSilenceEvenAcrossAReopen) {
    start();
    sim->send("S00202000,00000400#");
    sim->send(Bytes(100, 0x11));
    sim->close_port();
    std::this_thread::sleep_for(1200ms);
    sim->open_port();
    sim->send(greeting);
    EXPECT_EQ(sim->receive(3), prompt);
    EXPECT_EQ(status_number(sim->status(), "monitor.rejected"), 1);
}

using Sessions = Link;

TEST_F(Sessions, PortClosedAndOpenedAgainKeepsWorking) {
    start();
    for (int run = 0; run < 3; ++run) {
        sim->send(greeting);
        EXPECT_EQ(sim->receive(3), prompt) << run;
        EXPECT_EQ(sim->ask("W00201000,0000000" + std::to_string(run) + "#", 3), prompt);
        sim->close_port();
        sim->open_port();
        EXPECT_EQ(sim->ask("w00201000,4#", 15), to_bytes("\n\r0x0000000" + std::to_string(run) + "\n\r>"));
    }
}

// Opens the port the way an unprivileged updater would after an earlier
// user had claimed it exclusively: without CAP_SYS_ADMIN, which overrides
// the claim. Returns what the greeting got, from a child process.
Bytes greet_without_admin_rights(const std::filesystem::path& port) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        syscall(SYS_capget, &header, data);
        data[CAP_SYS_ADMIN / 32].effective &= ~(1u << (CAP_SYS_ADMIN % 32));
        syscall(SYS_capset, &header, data);
        int fd = -1;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            fd = open(port.c_str(), O_RDWR | O_NOCTTY);
            if (fd < 0) usleep(20000);
        }
        std::uint8_t answer[3] = {};
        if (fd >= 0 && write(fd, "\x80\x80#", 3) == 3) {
            std::size_t got = 0;
            for (int i = 0; i < 100 && got < 3; ++i) {
                const ssize_t n = read(fd, answer + got, 3 - got);
                if (n > 0) got += static_cast<std::size_t>(n);
                else usleep(20000);
            }
        }
        _exit(write(pipe_ends[1], answer, 3) == 3 ? 0 : 1);
    }
    close(pipe_ends[1]);
    Bytes answer(3);
    const ssize_t n = read(pipe_ends[0], answer.data(), 3);
    close(pipe_ends[0]);
    waitpid(child, nullptr, 0);
    answer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return answer;
}

TEST_F(Sessions, ExclusiveClaimEndsWhenItsHolderCloses) {
    start();
    sim->send(greeting);
    ASSERT_EQ(sim->receive(3), prompt);
    sim->close_port();
    EXPECT_EQ(greet_without_admin_rights(sim->link()), prompt);
}

TEST_F(Sessions, StaleLinkIsReplacedAndTheLinkGoesAtExit) {
    std::filesystem::create_symlink("/nonexistent", folder.path() / "COM7");
    start();
    sim->send(greeting);
    EXPECT_EQ(sim->receive(3), prompt);
    EXPECT_NE(sim->standard_error().find(sim->link().string() + " -> /dev/pts/"), std::string::npos)
        << sim->standard_error();
    sim->close_port();
    sim->signal(SIGINT);
    EXPECT_EQ(sim->wait_exit(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(sim->link())));
}

// What the program prints and how it ends when started from a shell.
std::pair<std::string, int> shell(const std::string& arguments) {
    const std::string command = std::string("'") + ZELMIRAN_SIM_PATH + "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = pclose(pipe);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(CommandLine, HelpNamesEveryOption) {
    const auto [help, code] = shell("--help");
    EXPECT_EQ(code, 0);
    for (const char* option :
         {"--link", "--ready", "--status", "--flash", "--chip-id", "--budget", "--timing", "--wp-ms", "--wp-noerase-ms",
          "--ea-ms", "--lock-ms", "--gpnvm-ms", "--latency-ms", "--greeting", "--bad-prompt", "--silent-after",
          "--close-after", "--trickle", "--locked", "--fsr-never-ready", "--corrupt", "500 ms", "0x80"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(CommandLine, NonsenseIsRefusedWithExitCode2) {
    for (const char* arguments : {"", "--link", "--link x --timing slow", "--link x --locked 32", "--link x --wp-ms -1",
                                  "--link x --chip-id 12G", "--link x --bad-prompt 0", "--link x --frobnicate"}) {
        const auto [out, code] = shell(arguments);
        EXPECT_EQ(code, 2) << arguments;
        EXPECT_NE(out.find("zelmiran-sim: "), std::string::npos) << arguments;
    }
}

}  // namespace
