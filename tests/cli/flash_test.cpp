// zelmiran-flash against the virtual device: each command end to end, the
// exit codes of the failures, and the production line of several devices.
#include "csv.h"
#include "image_builders.h"
#include "support/pty_peer.h"
#include "support/run_program.h"
#include "support/sim_device.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t flash_start = 0x00100000;
constexpr std::size_t flash_size = 512 * 1024;
const std::vector<std::string> line_header = {"time_utc", "number",    "port",    "chip_id", "image_sha256", "exit_code",
                                              "seconds",  "detail",    "result",  "station", "run_id"};

std::vector<unsigned char> pattern(std::size_t size, unsigned seed) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 131 + seed + i / 251);
    return bytes;
}

std::string text_of(const std::vector<unsigned char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class Flash : public testing::Test {
protected:
    void start_device(std::vector<std::string> options = {}, const std::string& nvm = "") {
        std::filesystem::create_directories(ports());
        if (!nvm.empty()) folder.write_file("ports/sim2.flash.nvm", nvm);
        device.emplace(ports(), 2, std::move(options));
    }

    ProgramRun flash(const std::vector<std::string>& arguments, const std::string& input = "") {
        ProgramOptions options;
        options.folder = folder.path();
        options.arguments = arguments;
        options.input = input;
        options.environment = {"ZELMIRAN_COM_DIR=" + ports().string()};
        options.limit = std::chrono::seconds(60);
        ProgramRun run = run_program(ZELMIRAN_FLASH_PATH, options);
        EXPECT_FALSE(run.timed_out);
        return run;
    }

    std::filesystem::path ports() const { return folder.path() / "ports"; }

    TempFolder folder;
    std::optional<SimDevice> device;
};

TEST_F(Flash, InfoReportsTheBitsTheDeviceHolds) {
    start_device({}, "lock_bits 0x80010021\ngpnvm 1 0 1\nsecurity 1\n");
    const ProgramRun run = flash({"--json", "info"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    for (const char* field : {R"("command":"info")", R"("port":"COM2")", R"("result":"ok")", R"("exit_code":0)",
                              R"("chip_id":"0x272A0A40")", R"("controller_ok":true)", R"("lock_bits":"0x80010021")",
                              R"("gpnvm":[1,0,1])", R"("security":1)"})
        EXPECT_NE(run.out.find(field), std::string::npos) << field << " in " << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
}

TEST_F(Flash, WrittenHexAndElfImagesReadBackWithErasedGaps) {
    start_device();
    const auto low = pattern(300, 1);
    const auto high = pattern(2000, 2);
    const std::string hex = hex_record(4, 0, {0x00, 0x10}) + hex_record(0, 0x0000, {low.begin(), low.begin() + 200}) +
                            hex_record(0, 0x00C8, {low.begin() + 200, low.end()}) + hex_record(1, 0, {});
    folder.write_file("image.hex", hex);
    folder.write_file("image.elf", text_of(elf_file({{1, flash_start + 0x40000, high}, {1, flash_start + 0x100, low}})));

    std::vector<unsigned char> hex_flash(flash_size, 0xFF);
    std::copy(low.begin(), low.end(), hex_flash.begin());
    std::vector<unsigned char> elf_flash(flash_size, 0xFF);
    std::copy(low.begin(), low.end(), elf_flash.begin() + 0x100);
    std::copy(high.begin(), high.end(), elf_flash.begin() + 0x40000);

    for (const auto& [image, expected] : {std::pair{"image.hex", hex_flash}, std::pair{"image.elf", elf_flash}}) {
        const ProgramRun written = flash({"--json", "write", image});
        EXPECT_EQ(written.exit_code, 0) << written.out << written.err;
        EXPECT_EQ(written.err, "") << "no progress bar without a terminal";
        EXPECT_NE(written.out.find(R"("image":{"path":")" + std::string(image)), std::string::npos) << written.out;
        const ProgramRun read = flash({"read", "back.bin"});
        EXPECT_EQ(read.exit_code, 0) << read.err;
        EXPECT_TRUE(file_text(folder.path() / "back.bin") == text_of(expected)) << image;
        EXPECT_FALSE(std::filesystem::exists(folder.path() / "back.bin.zelmiran-flash.part"));
    }
    EXPECT_NE(device->status().find(R"("lock_bits": "0xFFFFFFFF")"), std::string::npos) << device->status();
}

TEST_F(Flash, VerifyOfAnotherImageExitsTwelveAtTheFirstDifference) {
    start_device();
    auto image = pattern(5000, 3);
    folder.write_file("a.bin", text_of(image));
    ASSERT_EQ(flash({"write", "a.bin"}).exit_code, 0);
    EXPECT_EQ(flash({"--port", (ports() / "COM2").string(), "verify", "a.bin"}).exit_code, 0);

    image[0x405] ^= 0x5A;
    image[0x1000] ^= 0x01;
    folder.write_file("b.bin", text_of(image));
    const ProgramRun run = flash({"--json", "verify", "--read-back", "b.bin"});
    EXPECT_EQ(run.exit_code, 12);
    EXPECT_NE(run.out.find(R"("differences":2,"first_difference":{"address":"0x00100405")"), std::string::npos)
        << run.out;
}

TEST_F(Flash, BootSetsTheBootBitAndNothingElse) {
    std::filesystem::create_directories(ports());
    folder.write_file("ports/sim2.flash", text_of(pattern(flash_size, 4)));
    start_device({}, "lock_bits 0x0000F00F\ngpnvm 1 0 0\nsecurity 0\n");
    const ProgramRun run = flash({"boot"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(device->flash() == pattern(flash_size, 4));
    device->stop();
    EXPECT_EQ(file_text(folder.path() / "ports/sim2.flash.nvm"), "lock_bits 0x0000F00F\ngpnvm 1 0 1\nsecurity 0\n");
}

// script(1) gives the program a terminal; its output is the terminal's.
TEST_F(Flash, ProgressBarsOnATerminalOnly) {
    start_device({"--timing", "realistic"});
    ProgramOptions options;
    options.folder = folder.path();
    options.environment = {"ZELMIRAN_COM_DIR=" + ports().string()};
    for (const bool quiet : {false, true}) {
        // Another image each time, so that every block is written.
        folder.write_file("fw.bin", text_of(pattern(40 * 1024, quiet ? 8 : 88)));
        const std::string command = std::string(ZELMIRAN_FLASH_PATH) + " write fw.bin";
        options.arguments = {"-qec", command + (quiet ? " --quiet" : ""), (folder.path() / "typescript").string()};
        const ProgramRun run = run_program("/usr/bin/script", options);
        EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
        for (const char* shown : {"\rwrite       [##############################] 100%", " KiB/s ", "\rlock        ["})
            EXPECT_EQ(run.out.find(shown) != std::string::npos, !quiet) << shown << " in " << run.out;
        EXPECT_NE(run.out.find("fw.bin written and checked"), std::string::npos) << run.out;
    }
}

// A line wider than the terminal would wrap, and every redraw would then
// start a line of its own.
TEST_F(Flash, ProgressBarsFitANarrowTerminal) {
    start_device({"--timing", "realistic"});
    ProgramOptions options;
    options.folder = folder.path();
    options.environment = {"ZELMIRAN_COM_DIR=" + ports().string()};
    for (const std::string language : {"C", "ru_RU.UTF-8"}) {
        folder.write_file("fw.bin", text_of(pattern(40 * 1024, static_cast<unsigned>(language.size()))));
        // Standard output goes to a file, so the terminal shows the bars alone.
        const std::string command =
            "stty cols 40; LC_ALL=" + language + " " + ZELMIRAN_FLASH_PATH + " write fw.bin >said.txt";
        options.arguments = {"-qec", command, (folder.path() / "typescript").string()};
        const ProgramRun run = run_program("/usr/bin/script", options);
        EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
        std::size_t widest = 0, width = 0;
        for (const char c : run.out) {
            if (c == '\r' || c == '\n') width = 0;
            else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) widest = std::max(widest, ++width);
        }
        EXPECT_LE(widest, 40u) << language << ":" << run.out;
        EXPECT_NE(run.out.find("100%"), std::string::npos) << run.out;
        EXPECT_TRUE(run.out.ends_with('\n')) << run.out;
    }
}

TEST_F(Flash, FailuresEndWithTheirExitCodes) {
    folder.write_file("fw.bin", text_of(pattern(3000, 5)));
    folder.write_file("bad.hex", ":0400000001020304F0\n:00000001FF\n");
    folder.write_file("low.elf", text_of(elf_file({{1, 0x00200000, pattern(64, 6)}})));
    folder.write_file("back.bin", "kept");
    struct Case {
        std::optional<std::vector<std::string>> device;  // its options; none: no device
        std::vector<std::string> arguments;
        int exit_code;
        std::string said;
    };
    using Options = std::vector<std::string>;
    const Case cases[] = {
        {std::nullopt, {"info"}, 4, "COM1 to COM32"},
        {Options{}, {"--port", "COM7", "info"}, 4, "COM7"},
        {Options{"--chip-id", "27330740"}, {"info"}, 5, "0x27330740"},
        {Options{"--greeting", "short"}, {"info"}, 5, "does not answer"},
        {Options{"--corrupt", "100405"}, {"write", "fw.bin"}, 11, "checking the block 0x00100400"},
        {Options{"--fail-command", "0B:1"}, {"boot"}, 7, "code 7"},
        {Options{"--silent-after", "60"}, {"read", "back.bin"}, 5, "stopped answering"},
        {Options{}, {"write", "bad.hex"}, 3, "bad.hex"},
        {Options{}, {"write", "low.elf"}, 3, "low.elf"},
        {Options{}, {"verify", "missing.bin"}, 3, "missing.bin"},
        {Options{}, {"frob"}, 64, "frob"},
        {Options{}, {"write", "fw.bin", "--size", "10"}, 64, "--size"},
        {Options{}, {"read"}, 64, "read"},
        {Options{}, {"--port"}, 64, "--port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        device.reset();
        if (c.device) start_device(*c.device);
        const ProgramRun run = flash(c.arguments);
        EXPECT_EQ(run.exit_code, c.exit_code) << run.out << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    }
    EXPECT_EQ(file_text(folder.path() / "back.bin"), "kept");
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "back.bin.zelmiran-flash.part"));
}

// A write sends only the blocks that changed, decided by the device's own
// checksums, and ends as a full write would: the flash as it must be, every
// region locked, the boot bit set; after a shorter image the rest is
// erased, or with --keep-rest kept.
TEST_F(Flash, WriteSendsOnlyChangedBlocksAndEndsAsAFullWrite) {
    start_device();
    auto image = pattern(40 * 1024, 13);
    folder.write_file("a.bin", text_of(image));
    image[0x2345] ^= 0xFF;
    folder.write_file("b.bin", text_of(image));
    folder.write_file("short.bin", text_of(std::vector<unsigned char>(image.begin(), image.begin() + 4096)));
    struct Case {
        std::vector<std::string> arguments;
        std::string written;
        std::size_t kept;  // bytes of a.bin still in the flash after the image
    };
    for (const Case& c : {Case{{"write", "a.bin"}, R"("blocks_written":40,)", 0},
                          Case{{"write", "a.bin"}, R"("blocks_written":0,)", 0},
                          Case{{"write", "b.bin"}, R"("blocks_written":1,)", 0},
                          Case{{"write", "b.bin", "--full"}, R"("blocks_written":512,)", 0},
                          Case{{"write", "short.bin", "--keep-rest"}, R"("blocks_written":0,)", 40 * 1024},
                          Case{{"write", "short.bin"}, R"("blocks_written":36,)", 0}}) {
        SCOPED_TRACE(c.arguments.back());
        std::vector<std::string> arguments = {"--json"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ProgramRun run = flash(arguments);
        EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
        EXPECT_NE(run.out.find(c.written), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(R"("check":"crc32")"), std::string::npos) << run.out;
        const auto flash_now = device->flash();
        const std::string& file = c.arguments[1];
        const std::string expected = file_text(folder.path() / file);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash_now.begin(),
                               [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; }));
        const std::size_t rest = std::max(expected.size(), c.kept);
        EXPECT_TRUE(std::all_of(flash_now.begin() + static_cast<std::ptrdiff_t>(rest), flash_now.end(),
                                [](unsigned char b) { return b == 0xFF; }));
        const std::string status = device->status();
        EXPECT_EQ(status_value(status, "lock_bits"), "\"0xFFFFFFFF\"");
        EXPECT_EQ(status_value(status, "gpnvm"), "[0, 0, 1]");
    }
}

// --run starts the new firmware at once: the device leaves its monitor.
TEST_F(Flash, RunStartsTheNewFirmwareAtOnce) {
    start_device();
    folder.write_file("fw.bin", text_of(pattern(2048, 15)));
    const ProgramRun run = flash({"write", "--run", "fw.bin"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.out.find("restarted"), std::string::npos) << run.out;
    EXPECT_EQ(device->wait_exit(), 0);
    EXPECT_EQ(status_value(device->status(), "firmware_started"), "true");
}

// A byte the device spoils in a block being written fails the write's
// check; one spoilt in a block left alone is found by verify.
TEST_F(Flash, ChecksumsFindSpoiltBlocks) {
    const auto image = pattern(8 * 1024, 14);
    folder.write_file("fw.bin", text_of(image));
    start_device({"--corrupt", "100C05"});
    EXPECT_EQ(flash({"write", "fw.bin"}).exit_code, 11);

    device.reset();
    auto spoilt = image;
    spoilt.resize(flash_size, 0xFF);
    spoilt[0x1805] ^= 0x10;
    folder.write_file("ports/sim2.flash", text_of(spoilt));
    start_device();
    const ProgramRun run = flash({"--json", "verify", "fw.bin"});
    EXPECT_EQ(run.exit_code, 12) << run.out << run.err;
    EXPECT_NE(run.out.find(R"("first_differing_block":{"start":"0x00101800","end":"0x00101BFF"})"), std::string::npos)
        << run.out;
    EXPECT_EQ(flash({"verify", "--read-back", "fw.bin"}).exit_code, 12);
}

// Short options are the long ones; an option the command does not take, a
// value outside the flash, and --address with an image that carries its own
// addresses are usage errors naming what is wrong, before any device.
TEST_F(Flash, OptionsAndTheirRefusals) {
    std::filesystem::create_directories(ports());
    folder.write_file("fw.bin", text_of(pattern(3000, 13)));
    folder.write_file("fw.hex", hex_record(4, 0, {0x00, 0x10}) + hex_record(0, 0, {1, 2, 3, 4}) + hex_record(1, 0, {}));
    struct Case {
        std::vector<std::string> arguments;
        int exit_code;
        std::string said;
    };
    const Case cases[] = {
        {{"-V"}, 0, "zelmiran-flash "},
        {{"-h"}, 0, "--keep-rest"},
        {{"-j", "-q", "check", "fw.hex"}, 0, R"("format":"ihex")"},
        {{"--verbose", "-p", "COM7", "boot", "--run"}, 4, "ms] COM7"},
        {{"write", "-"}, 3, "standard input: no data"},
        {{"write", "fw.bin", "--read-back"}, 64, "--read-back does not apply to write"},
        {{"verify", "fw.bin", "--full"}, 64, "--full"},
        {{"read", "x.bin", "--keep-rest"}, 64, "--keep-rest"},
        {{"info", "--run"}, 64, "--run"},
        {{"check", "fw.hex", "-p", "COM3"}, 64, "-p does not apply to check"},
        {{"list", "--address", "0x100000"}, 64, "--address"},
        {{"read", "x.bin", "--address", "0x180000"}, 64, "0x180000"},
        {{"read", "x.bin", "--address", "0x0017FC00", "--size", "2048"}, 64, "--size 2048 from 0x0017FC00"},
        {{"write", "--address", "0x120000", "fw.hex"}, 64, "carries its own addresses"},
        {{"check", "--address", "0x17FC00", "fw.bin"}, 3, "past the flash's end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back());
        const ProgramRun run = flash(c.arguments);
        EXPECT_EQ(run.exit_code, c.exit_code) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << run.out << run.err;
    }
}

// check never opens a port: a device present changes nothing, and its
// monitor is never greeted.
TEST_F(Flash, CheckShowsAnImageWithoutADevice) {
    const auto low = pattern(300, 14);
    folder.write_file("fw.hex", hex_record(4, 0, {0x00, 0x10}) + hex_record(0, 0, {low.begin(), low.begin() + 200}) +
                                    hex_record(0, 200, {low.begin() + 200, low.end()}) +
                                    hex_record(0, 0x2000, std::vector<unsigned char>(16, 0xFF)) + hex_record(1, 0, {}));
    folder.write_file("fw.elf", text_of(elf_file({{1, flash_start + 0x40000, pattern(2000, 15)},
                                                  {1, flash_start + 0x100, low},
                                                  {1, flash_start + 0x100 + 300, pattern(100, 16)}})));
    const std::pair<std::string, std::string> cases[] = {
        {"fw.hex", "format   Intel HEX\nranges   0x00100000-0x0010012B, 0x00102000-0x0010200F\n"
                   "blocks   2 of 1 KiB\nbytes    316\n"},
        {"fw.hex", "on an erased device, write writes 1 block(s), then"},
        {"fw.elf", "ranges   0x00100100-0x0010028F, 0x00140000-0x001407CF\nblocks   3 of 1 KiB\nbytes    2400\n"},
    };
    std::filesystem::create_directories(ports());
    for (const bool with_device : {false, true}) {
        if (with_device) start_device();
        for (const auto& [image, said] : cases) {
            const ProgramRun run = flash({"check", image});
            EXPECT_EQ(run.exit_code, 0) << run.err;
            EXPECT_NE(run.out.find(said), std::string::npos) << run.out;
        }
        const ProgramRun json = flash({"--json", "check", "fw.elf"});
        EXPECT_NE(json.out.find(R"("ranges":[["0x00100100","0x0010028F"],["0x00140000","0x001407CF"]],"blocks":3,)"),
                  std::string::npos)
            << json.out;
    }
    EXPECT_EQ(device->count("monitor.greeting"), 0u);
}

// Any text mode on the way would change the pattern's line ends and 0x1A.
TEST_F(Flash, ImagesFromStandardInputAndFlashToStandardOutput) {
    start_device();
    const auto bytes = pattern(5000, 17);
    folder.write_file("fw.bin", text_of(bytes));
    const std::string hex = hex_record(4, 0, {0x00, 0x13}) +
                            hex_record(0, 0, {bytes.begin(), bytes.begin() + 200}) + hex_record(1, 0, {});
    struct Case {
        std::vector<std::string> write;
        std::string input;
        std::string address;
        std::vector<unsigned char> expected;
    };
    const Case cases[] = {
        {{"write", "-"}, text_of(bytes), "0x00100000", bytes},
        {{"write", "--address", "0x00120000", "fw.bin"}, "", "0x00120000", bytes},
        {{"write", "-"}, hex, "0x00130000", {bytes.begin(), bytes.begin() + 200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        const ProgramRun written = flash(c.write, c.input);
        EXPECT_EQ(written.exit_code, 0) << written.err;
        const std::string size = std::to_string(c.expected.size());
        const ProgramRun read = flash({"read", "-", "--address", c.address, "--size", size});
        EXPECT_EQ(read.exit_code, 0) << read.err;
        EXPECT_TRUE(read.out == text_of(c.expected)) << read.out.size();
        EXPECT_NE(read.err.find(size + " bytes of flash saved to standard output"), std::string::npos) << read.err;
    }
}

// A write that fails after the erase leaves a device that starts its boot
// monitor, not half an image, though the device booted its firmware before.
TEST_F(Flash, WriteFailingAfterTheEraseLeavesTheBootBitClear) {
    folder.write_file("fw.bin", text_of(pattern(5000, 10)));
    for (const auto& fault : {std::vector<std::string>{"--fail-command", "01:20"}, {"--close-after", "25"}}) {
        SCOPED_TRACE(fault[0]);
        device.reset();
        start_device(fault, "lock_bits 0xFFFFFFFF\ngpnvm 0 0 1\nsecurity 0\n");
        EXPECT_EQ(flash({"write", "fw.bin"}).exit_code, 11);
        device->stop();
        EXPECT_EQ(status_value(device->status(), "gpnvm"), "[0, 0, 0]");
    }
}

// A signal stops a command where no reply is awaited: the device is left in
// programming mode (never with half an image and the boot bit), a read
// leaves no partial file, and the result says "stopped".
TEST_F(Flash, SignalsStopCommandsAtASafePoint) {
    folder.write_file("fw.bin", text_of(pattern(flash_size, 11)));
    struct Case {
        int signal;
        std::vector<std::string> device;
        std::vector<std::string> arguments;
        std::chrono::milliseconds after;
    };
    const Case cases[] = {
        {SIGINT, {"--timing", "realistic"}, {"--json", "write", "fw.bin"}, std::chrono::milliseconds(3000)},
        {SIGTERM, {"--timing", "realistic"}, {"--json", "write", "fw.bin"}, std::chrono::milliseconds(3000)},
        {SIGTERM, {"--latency-ms", "20"}, {"--json", "read", "back.bin"}, std::chrono::milliseconds(500)},
        {SIGHUP, {"--latency-ms", "20"}, {"--json", "read", "back.bin"}, std::chrono::milliseconds(500)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments[1] + " " + std::to_string(c.signal));
        device.reset();
        start_device(c.device, "lock_bits 0xFFFFFFFF\ngpnvm 0 0 1\nsecurity 0\n");
        folder.write_file("back.bin", "kept");
        ProgramOptions options;
        options.folder = folder.path();
        options.arguments = c.arguments;
        options.environment = {"ZELMIRAN_COM_DIR=" + ports().string()};
        options.limit = std::chrono::seconds(60);
        options.signal = c.signal;
        options.signal_after = c.after;
        const ProgramRun run = run_program(ZELMIRAN_FLASH_PATH, options);
        EXPECT_EQ(run.exit_code, 128 + c.signal) << run.out << run.err;
        EXPECT_LT(run.after_signal, std::chrono::seconds(5));
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
        EXPECT_NE(run.out.find(R"("result":"stopped")"), std::string::npos) << run.out;
        EXPECT_NE(run.err.find("stopped: "), std::string::npos) << run.err;
        EXPECT_EQ(file_text(folder.path() / "back.bin"), "kept");
        EXPECT_FALSE(std::filesystem::exists(folder.path() / "back.bin.zelmiran-flash.part"));
        device->stop();
        if (c.arguments[1] == "write") {
            EXPECT_EQ(status_value(device->status(), "gpnvm"), "[0, 0, 0]");
        }
    }
}

// While one program works on a port, another is refused it without a byte
// sent, root or not; with two devices and no port named, none is guessed.
TEST_F(Flash, OneProgramPerPortAndNoGuessing) {
    folder.write_file("fw.bin", text_of(pattern(96 * 1024, 12)));
    folder.write_file("f_write.txt", "fw.bin");
    start_device({"--timing", "realistic"});
    ProgramRun write;
    std::thread writer([&] { write = flash({"write", "fw.bin"}); });
    while (device->count("monitor.S") < 3) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const ProgramRun info = flash({"--port", "COM2", "info"});
    const ProgramRun listed = flash({"--json", "list"});
    ProgramOptions options;
    options.folder = folder.path();
    options.environment = {"ZELMIRAN_COM_DIR=" + ports().string()};
    const ProgramRun update = run_program(ZELMIRAN_UPDATE_PATH, options);
    writer.join();
    EXPECT_EQ(info.exit_code, 4);
    EXPECT_NE(info.err.find("port COM2 is held by another program"), std::string::npos) << info.err;
    EXPECT_NE(update.out.find("/COM2 занят другой программой"), std::string::npos) << update.out;
    EXPECT_NE(update.out.find("Error 4"), std::string::npos) << update.out;
    EXPECT_NE(listed.out.find(R"({"port":"COM2","state":"busy"})"), std::string::npos) << listed.out;
    EXPECT_EQ(write.exit_code, 0) << write.err;
    EXPECT_EQ(device->count("monitor.greeting"), 1u);

    device.reset();
    start_device();
    SimDevice other(ports(), 4);
    const ProgramRun survey = flash({"--json", "list"});
    for (const char* port : {"COM2", "COM4"})
        EXPECT_NE(survey.out.find(std::string(R"({"port":")") + port + R"(","state":"device","chip_id":"0x272A0A40","controller_ok":true})"),
                  std::string::npos)
            << survey.out;
    const ProgramRun guessed = flash({"write", "fw.bin"});
    EXPECT_EQ(guessed.exit_code, 4);
    EXPECT_NE(guessed.err.find("devices on COM2 and COM4: choose one with --port"), std::string::npos) << guessed.err;
    EXPECT_EQ(device->count("efc0.WP") + other.count("efc0.WP"), 0u);
}

// A read saves through a link into its target, and never over a device.
TEST_F(Flash, ReadSavesThroughLinksAndNeverOverADevice) {
    start_device();
    folder.write_file("target.bin", "old");
    std::filesystem::create_symlink("target.bin", folder.path() / "link.bin");
    EXPECT_EQ(flash({"read", "link.bin", "--size", "1024"}).exit_code, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(folder.path() / "link.bin"));
    EXPECT_EQ(file_text(folder.path() / "target.bin").size(), 1024u);
    if (geteuid() != 0) GTEST_SKIP() << "a device node needs root";
    const auto node = folder.path() / "node";
    ASSERT_EQ(mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
    const ProgramRun run = flash({"read", "node"});
    EXPECT_EQ(run.exit_code, 73) << run.err;
    EXPECT_TRUE(std::filesystem::is_character_file(node));
}

// Every failure is told in the flasher's own words, English under an English
// locale, with the exit code of the step that failed.
TEST_F(Flash, FailureDetailsAreEnglishAndComeFromTheFailingStep) {
    if (geteuid() != 0) GTEST_SKIP() << "ports held by others need root to set up";
    // The ports of others are tried as another user: root may open anything.
    const auto program = folder.path() / "zelmiran-flash";
    std::filesystem::copy_file(ZELMIRAN_FLASH_PATH, program);
    folder.write_file("fw.bin", text_of(pattern(3000, 9)));
    std::filesystem::create_directories(ports());
    PtyPeer busy(ports(), 5), denied(ports(), 6);
    busy.open_to_all(true);
    struct Case {
        std::vector<std::string> device;
        std::vector<std::string> arguments;
        int exit_code;
        std::string said;
    };
    const Case cases[] = {
        {{}, {"--port", "COM5", "info"}, 4, "port COM5 is held by another program"},
        {{}, {"--port", "COM6", "info"}, 4, "no access to port COM6"},
        {{"--chip-id", "27330740"}, {"info"}, 5, "not an AT91SAM7SE512 (chip id 0x27330740)"},
        {{"--fail-command", "01:9"}, {"write", "fw.bin"}, 11, "writing the page at 0x00100400: the device refused it"},
        {{"--fail-command", "04:1"}, {"write", "fw.bin"}, 11, "unlocking region 0: the device refused it"},
        {{"--corrupt", "100405"}, {"write", "fw.bin"}, 11, "checking the block 0x00100400: its checksum differs"},
        {{"--silent-after", "25"}, {"write", "fw.bin"}, 11, "programming failed: writing the page at"},
        {{"--fail-command", "0B:1"}, {"write", "fw.bin"}, 7, "setting the boot bit: the device refused it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.said);
        // A device programmed before: locked, another image in its flash.
        device.reset();
        std::filesystem::remove(ports() / "sim2.flash");
        start_device(c.device, "lock_bits 0xFFFFFFFF\ngpnvm 0 0 0\nsecurity 0\n");
        std::filesystem::permissions(folder.path(), std::filesystem::perms::all);
        ProgramOptions options;
        options.folder = folder.path();
        options.arguments = {"--json"};
        options.arguments.insert(options.arguments.end(), c.arguments.begin(), c.arguments.end());
        options.environment = {"ZELMIRAN_COM_DIR=" + ports().string(), "LANG=C.UTF-8"};
        options.unprivileged = c.exit_code == 4;
        options.limit = std::chrono::seconds(60);
        const ProgramRun run = run_program(program.string(), options);
        EXPECT_EQ(run.exit_code, c.exit_code) << run.out << run.err;
        EXPECT_NE(run.out.find(R"("detail":")"), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
        const std::string shown = run.out + run.err;
        EXPECT_TRUE(std::none_of(shown.begin(), shown.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
            << shown;
    }
}

// The log's rows after its header and the `old` rows before this run's,
// each with every column.
std::vector<std::vector<std::string>> log_rows(const std::filesystem::path& log, std::size_t old = 0) {
    std::vector<std::vector<std::string>> rows = csv_rows(file_text(log));
    EXPECT_GT(rows.size(), old) << log;
    rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(std::min(rows.size(), old + 1)));
    for (const auto& row : rows) EXPECT_EQ(row.size(), line_header.size()) << csv_row(row);
    return rows;
}

// The process of this test's line (its ports' folder in its environment)
// whose command line holds every one of `words`; -1 when there is none.
pid_t find_process(const std::filesystem::path& ports, const std::vector<std::string>& words) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string command = file_text(entry.path() / "cmdline");
        std::replace(command.begin(), command.end(), '\0', ' ');
        const std::string environment = file_text(entry.path() / "environ");
        if (environment.find("ZELMIRAN_COM_DIR=" + ports.string() + '\0') == std::string::npos) continue;
        if (std::all_of(words.begin(), words.end(), [&](const std::string& word) { return command.find(word) != std::string::npos; }))
            return static_cast<pid_t>(std::stol(name));
    }
    return -1;
}

// Two signals sent at once would be taken as one, as no person's two
// Ctrl-C are: the next waits until the process has taken the one before.
void send_signal(pid_t pid, int number) {
    const std::string status = "/proc/" + std::to_string(pid) + "/status";
    const auto pending = [&] {
        std::istringstream lines(file_text(status));
        bool any = false;
        for (std::string line; std::getline(lines, line);)
            if (line.starts_with("SigPnd:") || line.starts_with("ShdPnd:"))
                any = any || (std::stoull(line.substr(7), nullptr, 16) >> (number - 1) & 1) != 0;
        return any;
    };
    for (int i = 0; i < 250 && pending(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid, number);
}

// Half a minute at most, so that a line that never starts fails the test
// rather than hanging it.
void wait_for_writes(SimDevice& device) {
    for (int i = 0; i < 1500 && device.count("efc0.WP") < 8; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(device.count("efc0.WP"), 8u);
}

// Four devices at once: two pass; one refusing a page write and one whose
// link is cut fail with their own words and codes, the line's code the
// first failure's; each device greeted once, by its worker alone. A second
// run goes on with the log's numbers.
TEST_F(Flash, LineProgramsEveryConnectedDeviceAtOnce) {
    folder.write_file("fw.bin", text_of(pattern(40 * 1024, 3)));
    std::filesystem::create_directories(ports());
    SimDevice com2(ports(), 2), com3(ports(), 3), com4(ports(), 4, {"--fail-command", "01:9"}),
        com5(ports(), 5, {"--close-after", "25"});
    const ProgramRun run = flash({"line", "fw.bin", "--count", "4", "--log", "run.csv", "--station", "bench 7"});
    const auto rows = log_rows(folder.path() / "run.csv");
    ASSERT_EQ(rows.size(), 4u) << run.out << run.err;
    EXPECT_EQ(csv_rows(file_text(folder.path() / "run.csv"))[0], line_header);
    std::map<std::string, std::vector<std::string>> by_port;
    for (const auto& row : rows) by_port[row[2]] = row;
    const auto first_failure = std::find_if(rows.begin(), rows.end(), [](const auto& row) { return row[8] == "FAIL"; });
    ASSERT_NE(first_failure, rows.end());
    EXPECT_EQ(std::to_string(run.exit_code), (*first_failure)[5]) << run.out;
    for (const char* port : {"COM2", "COM3"}) {
        EXPECT_EQ(by_port[port][8], "PASS") << csv_row(by_port[port]);
        EXPECT_EQ(by_port[port][5], "0");
        EXPECT_EQ(by_port[port][3], "0x272A0A40");
    }
    EXPECT_EQ(by_port["COM4"][8], "FAIL");
    EXPECT_EQ(by_port["COM4"][5], "11");
    EXPECT_NE(by_port["COM4"][7].find("programming failed: writing the page at 0x0010"), std::string::npos) << by_port["COM4"][7];
    EXPECT_NE(by_port["COM4"][7].find("the device refused it"), std::string::npos) << by_port["COM4"][7];
    EXPECT_EQ(by_port["COM5"][8], "FAIL");
    EXPECT_EQ(by_port["COM5"][5], "11");
    EXPECT_NE(by_port["COM5"][7].find("programming failed: "), std::string::npos) << by_port["COM5"][7];
    std::set<std::string> numbers;
    for (const auto& row : rows) {
        numbers.insert(row[1]);
        EXPECT_EQ(row[9], "bench 7");
        EXPECT_EQ(row[10], rows[0][10]);
        EXPECT_TRUE(std::none_of(row[7].begin(), row[7].end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
        EXPECT_NE(run.out.find("device " + row[1] + " on " + row[2] + ": " + row[8]), std::string::npos) << run.out;
    }
    EXPECT_EQ(numbers, (std::set<std::string>{"1", "2", "3", "4"}));
    EXPECT_NE(run.out.find("done 4: passed 2, failed 2, stopped 0"), std::string::npos) << run.out;
    for (SimDevice* device : {&com2, &com3, &com4, &com5}) EXPECT_EQ(device->count("monitor.greeting"), 1u);

    const ProgramRun again = flash({"--json", "line", "fw.bin", "--ports", "COM2", "--count", "1", "--log", "run.csv"});
    EXPECT_EQ(again.exit_code, 0) << again.err;
    const auto all = log_rows(folder.path() / "run.csv");
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[4][1], "5");
    EXPECT_EQ(all[4][8], "PASS");
    EXPECT_NE(all[4][10], all[0][10]);
    EXPECT_NE(again.out.find(R"({"command":"line","number":5,"port":"COM2","result":"ok","exit_code":0,)"), std::string::npos) << again.out;
    EXPECT_NE(again.out.find(R"({"command":"line","summary":true,"done":1,"passed":1,"failed":0,"stopped":0})"), std::string::npos) << again.out;
}

// A worker killed outright fails its device alone. A log begun before the
// last columns keeps its header, its numbers going on.
TEST_F(Flash, LineFailsTheDeviceOfAKilledWorkerOnly) {
    folder.write_file("fw.bin", text_of(pattern(64 * 1024, 4)));
    const std::vector<std::string> old_header(line_header.begin(), line_header.begin() + 8);
    folder.write_file("old.csv", csv_row(old_header) + csv_row({"2026-01-01T00:00:00Z", "41", "COM9", "", "", "0", "1.0", "done"}));
    std::filesystem::create_directories(ports());
    SimDevice com2(ports(), 2, {"--timing", "realistic"}), com3(ports(), 3, {"--timing", "realistic"}),
        com4(ports(), 4, {"--timing", "realistic"});
    ProgramRun run;
    std::thread line([&] { run = flash({"line", "fw.bin", "--count", "3", "--log", "old.csv"}); });
    wait_for_writes(com3);
    const pid_t worker = find_process(ports(), {"--worker", "COM3"});
    EXPECT_GT(worker, 0);
    if (worker > 0) {
        kill(worker, SIGKILL);
    }
    line.join();
    EXPECT_EQ(run.exit_code, 11) << run.out << run.err;
    const auto rows = log_rows(folder.path() / "old.csv", 1);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(csv_rows(file_text(folder.path() / "old.csv"))[0], old_header);
    for (const auto& row : rows) {
        EXPECT_GE(std::stoi(row[1]), 42);
        EXPECT_EQ(row[8], row[2] == "COM3" ? "FAIL" : "PASS") << csv_row(row);
        if (row[2] == "COM3") {
            EXPECT_NE(row[7].find("worker ended without a result (signal 9)"), std::string::npos);
        }
    }
}

// On a terminal: a large PASS, in colour only when the terminal has it, and
// the live lines drawn over in place by cursor moves only then.
TEST_F(Flash, LineOnATerminalShowsAColouredResultWhereColourIs) {
    std::filesystem::create_directories(ports());
    for (const std::string term : {"xterm", "dumb"}) {
        SCOPED_TRACE(term);
        SimDevice com2(ports(), 2, {"--timing", "realistic"});
        ProgramOptions options;
        options.folder = folder.path();
        options.environment = {"ZELMIRAN_COM_DIR=" + ports().string(), "TERM=" + term};
        // Another image each time, so that the device has blocks to write.
        folder.write_file("fw.bin", text_of(pattern(20 * 1024, static_cast<unsigned>(term.size()))));
        const std::string command = std::string(ZELMIRAN_FLASH_PATH) + " line fw.bin --count 1";
        options.arguments = {"-qec", command, (folder.path() / "typescript").string()};
        const ProgramRun run = run_program("/usr/bin/script", options);
        EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
        const bool colour = term == "xterm";
        EXPECT_EQ(run.out.find("\x1b[1;97;42m   PASS   \x1b[0m") != std::string::npos, colour) << run.out;
        EXPECT_EQ(run.out.find("[  PASS  ]") != std::string::npos, !colour) << run.out;
        EXPECT_EQ(run.out.find('\x1b') != std::string::npos, colour) << run.out;
        EXPECT_NE(run.out.find(colour ? "COM2    #1    write" : "COM2 write"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("done 1: passed 1, failed 0, stopped 0"), std::string::npos) << run.out;
    }
}

// The first Ctrl-C lets the devices being programmed finish and takes no
// new one; the second stops them at a safe point, and the line exits 130.
TEST_F(Flash, LineStopsTakingDevicesThenStopsThem) {
    std::filesystem::create_directories(ports());
    for (const int stops : {1, 2}) {
        SCOPED_TRACE(stops);
        // Another image each time, so that the devices have blocks to write.
        folder.write_file("fw.bin", text_of(pattern(128 * 1024, 5 + stops)));
        std::filesystem::remove(folder.path() / "run.csv");
        SimDevice com2(ports(), 2, {"--timing", "realistic"}), com3(ports(), 3, {"--timing", "realistic"});
        ProgramRun run;
        std::atomic<bool> ended = false;
        std::thread line([&] {
            run = flash({"line", "fw.bin", "--log", "run.csv"});
            ended = true;
        });
        wait_for_writes(com2);
        wait_for_writes(com3);
        const pid_t line_pid = find_process(ports(), {" line fw.bin"});
        ASSERT_GT(line_pid, 0);
        for (int stop = 0; stop < stops; ++stop) send_signal(line_pid, SIGINT);
        SimDevice late(ports(), 4);
        if (stops == 1) {
            EXPECT_FALSE(ended) << "the devices took no time to finish: the test tells nothing";
        }
        line.join();
        EXPECT_EQ(late.count("monitor.greeting"), 0u);
        EXPECT_EQ(run.exit_code, stops == 1 ? 0 : 130) << run.out << run.err;
        const std::string note = "taking no more devices";
        EXPECT_EQ(run.err.find(note), run.err.rfind(note)) << run.err;
        EXPECT_NE(run.err.find(note), std::string::npos) << run.err;
        const auto rows = log_rows(folder.path() / "run.csv");
        ASSERT_EQ(rows.size(), 2u);
        for (const auto& row : rows) EXPECT_EQ(row[8], stops == 1 ? "PASS" : "STOPPED") << csv_row(row);
        if (stops == 2) {
            EXPECT_NE(rows[0][7].find("stopped: the boot bit is clear"), std::string::npos) << rows[0][7];
        }
    }
}

}  // namespace
