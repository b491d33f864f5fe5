// What the device keeps: flash and non-volatile bits across restarts and
// chip resets, and the status report it writes on SIGUSR1 and at exit.
#include "sim/device.h"
#include "sim_process.h"
#include "support/run_program.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace std::chrono_literals;

const std::string greeting = "\x80\x80#";
const Bytes prompt = to_bytes("\n\r>");

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class State : public testing::Test {
protected:
    std::unique_ptr<SimProcess> start(const std::vector<std::string>& arguments = {}) {
        auto sim = std::make_unique<SimProcess>(folder.path(), arguments);
        sim->open_port();
        return sim;
    }
    std::vector<std::string> with_flash() const { return {"--flash", flash_file().string()}; }
    std::filesystem::path flash_file() const { return folder.path() / "flash.bin"; }
    TempFolder folder;
};

using Persistence = State;

TEST_F(Persistence, FlashAndNonVolatileBitsSurviveARestart) {
    {
        auto sim = start(with_flash());
        sim->ask("W00140200,CAFEBABE#", 3);
        sim->ask("WFFFFFF74,5A000201#", 3);  // WP: EFC1 page 2
        sim->ask("WFFFFFF64,5A004002#", 3);  // SLB: region 1
        sim->ask("WFFFFFF64,5A00020B#", 3);  // SGPB 2
        sim->ask("WFFFFFF64,5A00000F#", 3);  // SSB
        sim->close_port();
        sim->signal(SIGTERM);
        ASSERT_EQ(sim->wait_exit(), 0);
    }
    EXPECT_EQ(std::filesystem::file_size(flash_file()), 512u * 1024);
    auto sim = start(with_flash());
    EXPECT_EQ(sim->ask("w00140200,4#", 15), to_bytes("\n\r0xCAFEBABE\n\r>"));
    EXPECT_EQ(sim->ask("w00140204,4#", 15), to_bytes("\n\r0xFFFFFFFF\n\r>"));
    EXPECT_EQ(sim->ask("wFFFFFF68,4#", 15), to_bytes("\n\r0x00020411\n\r>"));
    const std::string status = sim->status();
    EXPECT_EQ(status_value(status, "lock_bits"), "\"0x00000002\"");
    EXPECT_EQ(status_value(status, "gpnvm"), "[0, 0, 1]");
    EXPECT_EQ(status_number(status, "security"), 1);
}

TEST_F(Persistence, FlashFileChangesAsSoonAsAPageIsProgrammed) {
    auto sim = start(with_flash());
    sim->ask("W00100000,00000000#", 3);
    sim->ask("WFFFFFF64,5A000001#", 3);
    const std::string contents = read_file(flash_file());
    ASSERT_EQ(contents.size(), 512u * 1024);
    EXPECT_EQ(contents.substr(0, 5), std::string("\0\0\0\0\xFF", 5));
}

TEST_F(Persistence, ShortFlashFileReadsErasedBeyondItsEnd) {
    folder.write_file("flash.bin", std::string("\x01\x02\x03", 3));
    auto sim = start(with_flash());
    EXPECT_EQ(sim->ask("w00100000,4#", 15), to_bytes("\n\r0xFF030201\n\r>"));
    EXPECT_EQ(sim->ask("w0017FFFC,4#", 15), to_bytes("\n\r0xFFFFFFFF\n\r>"));
}

TEST_F(Persistence, WithoutAFlashFileEveryStartIsErasedAndUnlocked) {
    {
        auto sim = start();
        sim->ask("W00100000,00000000#", 3);
        sim->ask("WFFFFFF64,5A000001#", 3);
        sim->ask("WFFFFFF64,5A000002#", 3);
    }
    auto sim = start();
    EXPECT_EQ(sim->ask("w00100000,4#", 15), to_bytes("\n\r0xFFFFFFFF\n\r>"));
    EXPECT_EQ(sim->ask("wFFFFFF68,4#", 15), to_bytes("\n\r0x00000001\n\r>"));
}

TEST_F(Persistence, DamagedBitsFileIsRefusedAtStart) {
    folder.write_file("flash.bin.nvm", "lock_bits 0x00000001\ngpnvm 0 2 1\nsecurity 0\n");
    sim::DeviceOptions options;
    options.flash_file = flash_file().string();
    EXPECT_THROW(sim::Device device(options), std::runtime_error);
}

using Status = State;

TEST_F(Status, ReportAtExitCountsWhatCrossedTheLink) {
    auto sim = start();
    sim->send(greeting);
    ASSERT_EQ(sim->receive(3), prompt);
    sim->ask("w00201000,4#", 15);
    sim->send("junk#");
    sim->ask("WFFFFFF64,12000001#", 3);  // wrong key
    sim->close_port();
    sim->signal(SIGTERM);
    ASSERT_EQ(sim->wait_exit(), 0);
    const std::string status = read_file(sim->status_file());

    EXPECT_EQ(status.front(), '{');
    EXPECT_EQ(status.substr(status.size() - 3), "\n}\n");
    EXPECT_EQ(status_number(status, "monitor.greeting"), 1);
    EXPECT_EQ(status_number(status, "monitor.w"), 1);
    EXPECT_EQ(status_number(status, "monitor.W"), 1);
    EXPECT_EQ(status_number(status, "monitor.rejected"), 1);
    EXPECT_EQ(status_number(status, "efc0.PROGE"), 1);
    EXPECT_EQ(status_number(status, "efc0.WP"), 0);
    EXPECT_EQ(status_number(status, "link.bytes_in"), 3 + 12 + 5 + 19);
    EXPECT_EQ(status_number(status, "link.bytes_out"), 3 + 15 + 3);
    EXPECT_EQ(status_number(status, "link.frames_in"), 4);
    EXPECT_EQ(status_number(status, "link.replies_out"), 3);
    EXPECT_EQ(status_value(status, "hang"), "null");
    EXPECT_EQ(status_value(status, "debug_unit"), "\"\"");
}

TEST_F(Status, EveryKeyHasALineOfItsOwn) {
    auto sim = start();
    const std::string status = sim->status();
    std::istringstream lines(status);
    std::string line;
    int keys = 0;
    while (std::getline(lines, line)) {
        if (line == "{" || line == "}") continue;
        EXPECT_EQ(line.rfind("  \"", 0), 0u) << line;
        EXPECT_EQ(std::count(line.begin(), line.end(), ':'), 1) << line;
        ++keys;
    }
    // Chip bits, eleven monitor counters, ten per controller, the debug
    // unit, busy, emulation, run and transfer time, four link counters, runs
    // with their instructions and flash reads, resets, the firmware, the
    // hang and the fault switches that acted.
    EXPECT_EQ(keys, 3 + 11 + 20 + 1 + 4 + 4 + 3 + 2 + 1 + 1);
    for (const char* key : {"lock_bits", "gpnvm", "security", "monitor.greeting", "monitor.G", "efc1.CGPB",
                            "efc1.LOCKE", "debug_unit", "busy_ms", "emulation_ms", "run_ms", "link.transfer_ms",
                            "link.replies_out", "runs", "run_instructions", "run_flash_reads", "resets",
                            "firmware_started", "hang", "faults_fired"})
        EXPECT_NE(status_value(status, key), "") << key;
}

TEST_F(Status, SigusrReportsBetweenRunsAndTheDeviceServesOn) {
    auto sim = start();
    sim->send(greeting);
    ASSERT_EQ(sim->receive(3), prompt);
    EXPECT_EQ(status_number(sim->status(), "monitor.greeting"), 1);
    sim->close_port();
    sim->open_port();
    sim->send(greeting);
    ASSERT_EQ(sim->receive(3), prompt);
    EXPECT_EQ(status_number(sim->status(), "monitor.greeting"), 2);
}

TEST_F(Status, RunsAndDebugUnitBytesOfTargetCodeAreReported) {
    auto sim = start();
    // MOV r0, #6; LDR r1, =0xFFFFF200; STR r0, [r1, #0x1C]; BX LR
    const std::string code("\x06\x00\xA0\xE3"
                           "\x04\x10\x9F\xE5"
                           "\x1C\x00\x81\xE5"
                           "\x1E\xFF\x2F\xE1"
                           "\x00\xF2\xFF\xFF",
                           20);
    sim->send("S00202000,14#" + code);
    ASSERT_EQ(sim->receive(3), prompt);
    for (int run = 0; run < 2; ++run) EXPECT_EQ(sim->ask("G00202000#", 2), to_bytes("\n\r"));
    const std::string status = sim->status();
    EXPECT_EQ(status_value(status, "debug_unit"), "\"06 06\"");
    EXPECT_EQ(status_number(status, "runs"), 2);
    EXPECT_EQ(status_number(status, "run_instructions"), 8);
    EXPECT_EQ(status_number(status, "monitor.G"), 2);
}

struct Timing {
    std::vector<std::string> options;
    double bytes_per_ms, mhz;  // 0: no time
};

class ModelledTime : public State, public testing::WithParamInterface<Timing> {};

TEST_P(ModelledTime, OfTheLinksBytesAndTheCodesCyclesIsReported) {
    auto sim = start(GetParam().options);
    // LDR r1, =flash; LDR r2, =100000; loop: LDR r3, [r1]; SUBS r2, r2, #1; BNE loop; BX LR
    sim->send(std::string("S00202000,20#\x10\x10\x9F\xE5\x10\x20\x9F\xE5\x00\x30\x91\xE5\x01\x20\x52\xE2"
                          "\xFC\xFF\xFF\x1A\x1E\xFF\x2F\xE1\x00\x00\x10\x00\xA0\x86\x01\x00", 45));
    ASSERT_EQ(sim->receive(3), prompt);
    ASSERT_EQ(sim->ask("G00202000#", 2), to_bytes("\n\r"));
    const std::string status = sim->status();
    const double bytes = status_number(status, "link.bytes_in") + status_number(status, "link.bytes_out");
    const double cycles = status_number(status, "run_instructions") + status_number(status, "run_flash_reads");
    EXPECT_EQ(status_number(status, "run_flash_reads"), 100000);
    const auto [options, bytes_per_ms, mhz] = GetParam();
    EXPECT_NEAR(status_number(status, "link.transfer_ms"), bytes_per_ms ? bytes / bytes_per_ms : 0, 1e-3);
    EXPECT_NEAR(status_number(status, "run_ms"), mhz ? cycles / mhz / 1000 : 0, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Status, ModelledTime,
                         testing::Values(Timing{{}, 0, 0}, Timing{{"--timing", "realistic"}, 1000, 48},
                                         Timing{{"--link-bytes-per-ms", "50", "--cpu-mhz", "12.5"}, 50, 12.5}));

const std::string sgpb_2 = "WFFFFFF64,5A00020B#";

struct Reset {
    std::string gpnvm2;  // empty: left clear
    std::string rstc_cr;
    std::string replies;  // to it and a read before a greeting
    std::string sram;     // read after a greeting; empty: the monitor is gone
};

class ChipReset : public State, public testing::WithParamInterface<Reset> {};

TEST_P(ChipReset, StartsTheFirmwareOrTheMonitorAnew) {
    const Reset& c = GetParam();
    auto sim = start();
    sim->send("W00201000,CAFEBABE#" + c.gpnvm2);
    ASSERT_EQ(sim->receive(c.gpnvm2.empty() ? 3 : 6), c.gpnvm2.empty() ? prompt : to_bytes("\n\r>\n\r>"));
    sim->send("WFFFFFD00," + c.rstc_cr + "#w00201000,4#");
    if (c.sram.empty()) {
        EXPECT_TRUE(sim->hung_up(3s));
        EXPECT_EQ(sim->wait_exit(), 0);
    } else {
        EXPECT_EQ(sim->drain(), to_bytes(c.replies));
        EXPECT_EQ(sim->ask(greeting, 3), prompt);
        EXPECT_EQ(sim->ask("w00201000,4#", 15), to_bytes("\n\r0x" + c.sram + "\n\r>"));
    }
    const std::string status = sim->status();
    EXPECT_EQ(status_number(status, "resets"), c.rstc_cr == "A5000001" ? 1 : 0);
    EXPECT_EQ(status_value(status, "firmware_started"), c.sram.empty() ? "true" : "false");
}

INSTANTIATE_TEST_SUITE_P(Rstc, ChipReset,
                         testing::Values(Reset{sgpb_2, "A5000001", "", ""}, Reset{"", "A5000001", "", "00000000"},
                                         Reset{sgpb_2, "5A000001", "\n\r>\n\r0xCAFEBABE\n\r>", "CAFEBABE"}));

}  // namespace
