// What the operator sees and what crosses the link, held against recordings:
// for each scenario the updater's whole standard output, every byte it sent
// and every byte it received, each kept in order, as the program showed and
// sent them when the recording was made. Any change there, however small,
// fails the scenario, so a rework of the insides can show it changed nothing
// outside.
//
// The recordings are tests/recorded/<scenario>.txt. To make them anew (after
// a change that is meant to be seen), run the suite with ZELMIRAN_RECORD=1:
//     ZELMIRAN_RECORD=1 ctest --test-dir build/native -R RecordedOutput
// and read the difference in git before committing it. A scenario is only
// recorded when two runs of it agree, so a recording never holds chance.
#include "support/run_program.h"
#include "support/sim_device.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <sstream>

namespace {

constexpr std::size_t hex_line_bytes = 32;

using Options = std::vector<std::string>;

struct Scenario {
    std::string name;
    std::optional<Options> device;  // its options; none: no port at all
    std::string answers;
    std::optional<std::string> job = "fw.bin";  // none: no job file
    std::optional<std::size_t> image = 100;     // its size; none: no image file
};

// What a run leaves that the operator or the device could notice.
struct Streams {
    std::string out, tx, rx;
};

std::string test_image(std::size_t size) {
    std::string image(size, '\0');
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return image;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The bytes of the trace's TX and RX lines, "[  stamp ms] TX 0010  3E 0A ...
// |>.|"; notes, stamps and how the bytes were split into lines are left out,
// as they follow timing and temporary paths.
void take_traced_bytes(const std::string& err, Streams& streams) {
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        const auto stamp_end = line.find(" ms] ");
        if (line.rfind("[", 0) != 0 || stamp_end == std::string::npos) continue;
        const std::string rest = line.substr(stamp_end + 5);
        std::string* stream = rest.rfind("TX ", 0) == 0   ? &streams.tx
                              : rest.rfind("RX ", 0) == 0 ? &streams.rx
                                                          : nullptr;
        const auto offset_end = rest.find(' ', 3);
        if (!stream || offset_end == std::string::npos) continue;
        // Up to 16 " XX" after the offset and its blank; padding or the
        // ASCII column ends them.
        std::size_t at = offset_end + 1;
        for (int taken = 0; taken < 16 && at + 3 <= rest.size() && rest[at] == ' '; ++taken, at += 3) {
            const int high = hex_digit(rest[at + 1]), low = hex_digit(rest[at + 2]);
            if (high < 0 || low < 0) break;
            stream->push_back(static_cast<char>(high * 16 + low));
        }
    }
}

Streams run_scenario(const Scenario& scenario) {
    TempFolder folder;
    const auto ports = folder.path() / "ports";
    std::filesystem::create_directories(ports);
    std::optional<SimDevice> device;
    if (scenario.device) device.emplace(ports, 2, *scenario.device);
    if (scenario.job) folder.write_file("f_write.txt", *scenario.job);
    if (scenario.image) folder.write_file("fw.bin", test_image(*scenario.image));

    ProgramOptions options;
    options.folder = folder.path();
    options.environment = {"ZELMIRAN_COM_DIR=" + ports.string(), "ZELMIRAN_TRACE=1"};
    options.input = scenario.answers;
    options.limit = std::chrono::seconds(120);
    const ProgramRun run = run_program(ZELMIRAN_UPDATE_PATH, options);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0);
    Streams streams{run.out, {}, {}};
    take_traced_bytes(run.err, streams);
    return streams;
}

// Streams longer than this are kept as digests of 1 KiB blocks, so that a
// run that uploads the applet and writes pages does not make a recording of
// many kilobytes; the block that differs still says where to look.
constexpr std::size_t kept_whole_limit = 2 * 1024;
constexpr std::size_t digest_block = 1024;
constexpr std::size_t digest_size = 8;

// FNV-1a, 64 bits, of each block.
std::string block_digests(const std::string& bytes) {
    std::string digests;
    for (std::size_t at = 0; at < bytes.size(); at += digest_block) {
        std::uint64_t hash = 14695981039346656037ull;
        for (std::size_t i = at; i < std::min(bytes.size(), at + digest_block); ++i)
            hash = (hash ^ static_cast<unsigned char>(bytes[i])) * 1099511628211ull;
        for (int shift = 56; shift >= 0; shift -= 8) digests += static_cast<char>(hash >> shift);
    }
    return digests;
}

std::string kept_form(const std::string& bytes) {
    return bytes.size() > kept_whole_limit ? block_digests(bytes) : bytes;
}

std::string as_hex(const std::string& bytes, std::size_t per_line) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        text += {digits[byte >> 4], digits[byte & 15]};
        if (i % per_line == per_line - 1 || i + 1 == bytes.size()) text += '\n';
    }
    return text;
}

// The console text as it is, behind its byte count, so that a reader (and
// git) sees what the operator saw; the link's bytes as hex.
std::string recording(const Scenario& scenario, const Streams& streams) {
    std::string text = "# zelmiran-update, scenario " + scenario.name +
                       "; made with ZELMIRAN_RECORD=1 by tests/recorded_output_test.cpp\n";
    text += "[stdout " + std::to_string(streams.out.size()) + "]\n" + streams.out + "\n";
    for (const auto& [label, bytes] : {std::pair{"tx", &streams.tx}, {"rx", &streams.rx}}) {
        const bool digested = bytes->size() > kept_whole_limit;
        text += std::string("[") + label + " " + std::to_string(bytes->size()) +
                (digested ? " bytes as FNV-1a digests of 1024-byte blocks]\n" : "]\n");
        text += as_hex(kept_form(*bytes), hex_line_bytes);
    }
    return text;
}

// Reads "[label count...]\n" at `at`; the count, or nothing when the header is not there.
std::optional<std::size_t> section(const std::string& text, std::size_t& at, const std::string& label) {
    const std::string head = "[" + label + " ";
    const auto end = text.find("]\n", at);
    if (text.compare(at, head.size(), head) != 0 || end == std::string::npos) return std::nullopt;
    const std::size_t count = std::stoul(text.substr(at + head.size(), end - at - head.size()));
    at = end + 2;
    return count;
}

// A link stream as the recording keeps it: whole, or as block digests.
struct KeptStream {
    std::size_t size = 0;
    std::string kept;
};

struct Recorded {
    std::string out;
    KeptStream tx, rx;
};

std::optional<Recorded> parse_recording(const std::string& text) {
    std::size_t at = text.find('\n') + 1;
    const auto out_size = section(text, at, "stdout");
    if (!out_size || at + *out_size + 1 > text.size()) return std::nullopt;
    Recorded recorded{text.substr(at, *out_size), {}, {}};
    at += *out_size + 1;
    for (const auto& [label, stream] : {std::pair{"tx", &recorded.tx}, {"rx", &recorded.rx}}) {
        const auto count = section(text, at, label);
        if (!count) return std::nullopt;
        stream->size = *count;
        for (; at + 1 < text.size() && text[at] != '['; ++at) {
            if (text[at] == '\n') continue;
            const int high = hex_digit(text[at]), low = hex_digit(text[++at]);
            if (high < 0 || low < 0) return std::nullopt;
            stream->kept.push_back(static_cast<char>(high * 16 + low));
        }
        const std::size_t blocks = (*count + digest_block - 1) / digest_block;
        if (stream->kept.size() != (*count > kept_whole_limit ? blocks * digest_size : *count)) return std::nullopt;
    }
    return recorded;
}

// Up to 48 bytes on either side of `offset`, the offset itself marked.
std::string context(const std::string& bytes, std::size_t offset, bool as_text) {
    std::string shown;
    for (std::size_t i = offset - std::min<std::size_t>(offset, 48); i < std::min(bytes.size(), offset + 48); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (i == offset) shown += "<<HERE>>";
        char hex[8];
        std::snprintf(hex, sizeof hex, as_text ? "\\x%02X" : "%02X ", byte);
        if (as_text && byte == '\n') shown += "\\n";
        else if (as_text && byte >= 0x20 && byte != 0x7F) shown += static_cast<char>(byte);
        else shown += hex;
    }
    return shown;
}

std::size_t parting(const std::string& a, const std::string& b) {
    return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
}

// A few lines on where two streams part, instead of both streams whole.
std::string first_difference(const std::string& recorded, const std::string& now, bool as_text) {
    const std::size_t offset = parting(recorded, now);
    return "first difference at byte " + std::to_string(offset) + " (recorded " + std::to_string(recorded.size()) +
           " bytes, now " + std::to_string(now.size()) + ")\n  recorded: " + context(recorded, offset, as_text) +
           "\n  now:      " + context(now, offset, as_text) + "\n";
}

void expect_same(const char* what, const KeptStream& recorded, const std::string& now) {
    if (recorded.size <= kept_whole_limit) {
        EXPECT_TRUE(recorded.kept == now) << what << ": " << first_difference(recorded.kept, now, false);
        return;
    }
    const std::size_t offset = parting(recorded.kept, block_digests(now)) / digest_size * digest_block;
    EXPECT_TRUE(recorded.size == now.size() && recorded.kept == block_digests(now))
        << what << ": recorded " << recorded.size << " bytes, now " << now.size()
        << "; the first 1024-byte block that differs starts at byte " << offset
        << " (only digests are recorded)\n  now: " << context(now, offset, false) << "\n";
}

const std::vector<Scenario> scenarios = {
    // 41 pages: the write and the compare each show a progress dot.
    {"success_41000_bytes", Options{}, "y\n", "fw.bin", 41000},
    {"cancel_of_programming_mode", Options{}, "n\ny\n"},
    {"error1_no_job_file", Options{}, "y\n", std::nullopt},
    {"error2_line_break_after_name", Options{}, "y\n", "fw.bin\n"},
    {"error3_no_image", Options{}, "y\n", "fw.bin", std::nullopt},
    {"error4_no_device", std::nullopt, "y\n"},
    {"error5_monitor_without_commands", Options{"--greeting", "short"}, "y\n"},
    {"error5_wrong_controller", Options{"--chip-id", "0x272A0940"}, "y\n"},
    {"error7_cancel_refused", Options{"--fail-command", "0B:1"}, "n\ny\n"},
    // The second page's third flash page.
    {"error11_page_write_refused", Options{"--fail-command", "01:11"}, "y\n", "fw.bin", 5000},
    {"error11_compare_mismatch", Options{"--corrupt", "0x00100405"}, "y\n", "fw.bin", 3000},
    // The second page's send meets silence.
    {"error11_silent_mid_write", Options{"--silent-after", "111"}, "y\n", "fw.bin", 5000},
    // The applet upload's reply ends in '?' instead of the prompt.
    {"error11_upload_without_prompt", Options{"--bad-prompt", "3"}, "y\n"},
    {"error11_gpnvm2_not_set", Options{"--ignore-gpnvm"}, "y\n", "fw.bin", 3000},
};

// Test names and failures show the scenario by its name, not as raw bytes.
void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

class RecordedOutput : public testing::TestWithParam<Scenario> {};

TEST_P(RecordedOutput, MatchesTheRecording) {
    const Scenario& scenario = GetParam();
    const auto path = std::filesystem::path(ZELMIRAN_RECORDED_DIR) / (scenario.name + ".txt");
    const Streams now = run_scenario(scenario);

    const char* record = std::getenv("ZELMIRAN_RECORD");
    if (record && std::strcmp(record, "1") == 0) {
        const std::string text = recording(scenario, now);
        const std::string again = recording(scenario, run_scenario(scenario));
        ASSERT_TRUE(again == text) << "two runs differ, not recorded: " << first_difference(text, again, true);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        return;
    }

    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << path << " is missing; ZELMIRAN_RECORD=1 makes it";
    const auto recorded = parse_recording(std::string(std::istreambuf_iterator<char>(file), {}));
    ASSERT_TRUE(recorded) << path << " is not a recording";
    EXPECT_TRUE(recorded->out == now.out) << "standard output: " << first_difference(recorded->out, now.out, true);
    expect_same("bytes sent", recorded->tx, now.tx);
    expect_same("bytes received", recorded->rx, now.rx);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, RecordedOutput, testing::ValuesIn(scenarios),
                         [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
