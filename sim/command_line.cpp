#include "sim/command_line.h"

#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>

const char* const usage_text = R"(Usage: zelmiran-sim --link PATH [options]

The virtual ZELMIRAN controller: an AT91SAM7SE512 in programming mode, its
ROM boot monitor served on a pseudo-terminal. Point the updater at it with
ZELMIRAN_COM_DIR=DIR when PATH is DIR/COMn. Runs until SIGINT or SIGTERM;
SIGUSR1 writes the status report at once.

Link and state:
  --link PATH          symlink to the pseudo-terminal's slave (a stale one is
                       replaced); required
  --ready FILE         written once the device listens
  --status FILE        JSON status report, written at exit and on SIGUSR1
  --flash FILE         flash contents kept in FILE (512 KiB, 0xFF where the
                       file has no bytes), lock, GPNVM and security bits in
                       FILE.nvm; without it everything is in memory, erased
                       and unlocked
  --chip-id HEX        chip identification register (default 272A0A40)
  --budget N           instructions a G may run before it counts as hung
                       (default 5000000)

Timing (milliseconds, fractions allowed):
  --timing zero|realistic
                       zero (default): everything completes at once;
                       realistic: page program 6 (3 without erase), erase
                       all 15, lock bits 1, GPNVM and security bits 1, and 1
                       before each reply; the link carries 1000 bytes a
                       millisecond (USB full speed), the core runs at 48 MHz
  --wp-ms MS  --wp-noerase-ms MS  --ea-ms MS  --lock-ms MS  --gpnvm-ms MS
  --latency-ms MS      override one value of the chosen timing
  --link-bytes-per-ms N
                       bytes the link carries a millisecond, either way, on
                       top of the latency; 0: at once
  --cpu-mhz MHZ        the core's clock: a reply to G waits for the code's
                       instructions, one cycle each, and one wait state per
                       load from flash; 0: code takes no time

Faults:
  --greeting normal|silent|short|wrong
                       answer to 0x80 0x80 '#': "\n\r>", nothing, only
                       "\n\r", or "?\r>"
  --bad-prompt N       the Nth write reply (W, H, O, S counted together,
                       from 1) has '?' for '>'
  --silent-after N     answer N frames (greeting included), then nothing;
                       commands still take effect
  --close-after N      answer N frames, then hang up, write the status and
                       exit
  --trickle MS         send replies byte by byte, MS apart
  --flip-byte N:OFFSET:MASK
                       the byte at OFFSET (from 0) of the Nth S data (from
                       1) arrives XORed with MASK (hex), as over a bad line
  --locked LIST        lock regions (0-31, comma-separated) at start
  --fsr-never-ready    MC_FSR never shows FRDY, in either controller
  --corrupt ADDR       the flash byte at ADDR (hex) is stored inverted each
                       time its page is programmed
  --stuck-lock LIST    lock regions (0-31, comma-separated) at start for
                       good: clearing their lock bits gives LOCKE
  --fail-command CODE:N
                       the Nth flash command (from 1, both controllers
                       counted) with command code CODE (hex: 01 WP, 02 SLB,
                       04 CLB, 08 EA, 0B SGPB, 0D CGPB, 0F SSB) gives PROGE
  --ignore-lock LIST   SLB on these regions (0-31, comma-separated) is
                       accepted but leaves the lock bit clear
  --ignore-gpnvm       SGPB is accepted but leaves the GPNVM bit clear
  --skip-run N         the Nth G (from 1) answers at once without running
                       the code, as if the core never took it

Monitor commands (addresses and values in hex, either case):
  0x80 0x80 #          greeting             -> "\n\r>"
  W/H/O addr,value#    write word/half/byte -> "\n\r>"
  w/h/o addr,4/2/1#    read                 -> "\n\r0x" digits "\n\r>"
  S addr,length#       then length bytes    -> "\n\r>" after the last
  R addr,length#       read block           -> "\n\r" bytes ">"
  G addr#              run in ARM state     -> "\n\r" once it returns
A command is everything up to the next '#'. A frame that does not parse
(unknown letter, bad or too many digits, missing comma, over 32 bytes, R over
1 MiB) is dropped silently and counted as rejected. A byte 0x80 outside S
data abandons any partial command, so a greeting always resynchronises. A
partial command or S data that sees no byte for 500 ms is abandoned (and
counted as rejected). Code started by G that faults or does not return
within the budget hangs the device: it answers nothing more, and says why
on standard error and in the status report.

The flash controllers take keyed commands in MC_FCR as the chip's
documentation describes; a command written while its controller is still
busy is refused with PROGE.

RSTC_CR (FFFFFD00) written with key A5 and PROCRST (bit 0) resets the chip,
and the write gets no reply. With GPNVM2 set the firmware starts: the device
hangs up, writes the status and exits. Otherwise the monitor starts anew
(SRAM cleared; flash and its bits kept) and drops every frame until a
greeting.
)";

namespace {

std::uint64_t parse_count(const std::string& option, const std::string& text) {
    std::size_t end = 0;
    unsigned long long value = 0;
    try {
        value = std::stoull(text, &end, 10);
    } catch (const std::exception&) {
        end = 0;
    }
    if (end == 0 || end != text.size() || text[0] == '-')
        throw std::invalid_argument(option + " takes a whole number, not \"" + text + "\"");
    return value;
}

std::uint32_t parse_hex(const std::string& option, const std::string& text) {
    std::size_t end = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &end, 16);
    } catch (const std::exception&) {
        end = 0;
    }
    if (end == 0 || end != text.size() || text[0] == '-' || value > 0xFFFFFFFFul)
        throw std::invalid_argument(option + " takes a hexadecimal number, not \"" + text + "\"");
    return static_cast<std::uint32_t>(value);
}

// Not negative and finite; `unit` names it in the message.
double parse_amount(const std::string& option, const std::string& text, const std::string& unit) {
    std::size_t end = 0;
    double value = -1;
    try {
        value = std::stod(text, &end);
    } catch (const std::exception&) {
        end = 0;
    }
    if (end == 0 || end != text.size() || !std::isfinite(value) || value < 0)
        throw std::invalid_argument(option + " takes " + unit + ", not \"" + text + "\"");
    return value;
}

double parse_ms(const std::string& option, const std::string& text) {
    return parse_amount(option, text, "milliseconds");
}

std::uint32_t parse_regions(const std::string& option, const std::string& text) {
    std::uint32_t regions = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::uint64_t region = parse_count(option, text.substr(start, comma - start));
        if (region > 31) throw std::invalid_argument(option + ": regions are 0 to 31");
        regions |= 1u << region;
        if (comma == std::string::npos) return regions;
        start = comma + 1;
    }
}

sim::FailingCommand parse_failing_command(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) throw std::invalid_argument("--fail-command is CODE:N");
    const std::uint32_t code = parse_hex("--fail-command", text.substr(0, colon));
    if (code > 0x0F) throw std::invalid_argument("--fail-command: command codes are 0 to F");
    const std::uint64_t occurrence = parse_count("--fail-command", text.substr(colon + 1));
    if (occurrence == 0) throw std::invalid_argument("--fail-command counts from 1");
    return {static_cast<std::uint8_t>(code), occurrence};
}

sim::FlippedByte parse_flipped_byte(const std::string& text) {
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos) throw std::invalid_argument("--flip-byte is N:OFFSET:MASK");
    const std::uint64_t block = parse_count("--flip-byte", text.substr(0, first));
    const std::uint64_t offset = parse_count("--flip-byte", text.substr(first + 1, second - first - 1));
    const std::uint32_t mask = parse_hex("--flip-byte", text.substr(second + 1));
    if (block == 0) throw std::invalid_argument("--flip-byte counts S data from 1");
    if (offset > 0xFFFFFFFFu) throw std::invalid_argument("--flip-byte: the offset is too large");
    if (mask == 0 || mask > 0xFF) throw std::invalid_argument("--flip-byte: the mask is 01 to FF");
    return {block, static_cast<std::uint32_t>(offset), static_cast<std::uint8_t>(mask)};
}

sim::GreetingAnswer parse_greeting(const std::string& text) {
    static const std::map<std::string, sim::GreetingAnswer> answers = {{"normal", sim::GreetingAnswer::normal},
                                                                       {"silent", sim::GreetingAnswer::silent},
                                                                       {"short", sim::GreetingAnswer::cut},
                                                                       {"wrong", sim::GreetingAnswer::wrong}};
    const auto found = answers.find(text);
    if (found == answers.end()) throw std::invalid_argument("--greeting is normal, silent, short or wrong");
    return found->second;
}

sim::TimingModel parse_timing(const std::string& text) {
    if (text == "zero") return sim::TimingModel::zero();
    if (text == "realistic") return sim::TimingModel::realistic();
    throw std::invalid_argument("--timing is zero or realistic");
}

std::uint64_t positive(const std::string& option, const std::string& text) {
    const std::uint64_t count = parse_count(option, text);
    if (count == 0) throw std::invalid_argument(option + " counts from 1");
    return count;
}

using TimingField = double sim::TimingModel::*;

struct TimingValue {
    TimingField field;
    const char* unit;
};

const std::map<std::string, TimingValue> timing_fields = {
    {"--wp-ms", {&sim::TimingModel::wp_ms, "milliseconds"}},
    {"--wp-noerase-ms", {&sim::TimingModel::wp_noerase_ms, "milliseconds"}},
    {"--ea-ms", {&sim::TimingModel::ea_ms, "milliseconds"}},
    {"--lock-ms", {&sim::TimingModel::lock_ms, "milliseconds"}},
    {"--gpnvm-ms", {&sim::TimingModel::gpnvm_ms, "milliseconds"}},
    {"--latency-ms", {&sim::TimingModel::latency_ms, "milliseconds"}},
    {"--link-bytes-per-ms", {&sim::TimingModel::link_bytes_per_ms, "bytes a millisecond"}},
    {"--cpu-mhz", {&sim::TimingModel::cpu_mhz, "megahertz"}},
};

// Reads the options into `line`. Timing values that override the chosen
// model are kept aside, so that their place on the line does not matter.
class Parser {
public:
    explicit Parser(CommandLine& line) : line_(line) {
        sim::DeviceOptions& device = line.device;
        sim::ServeOptions& serve = line.serve;
        sim::LinkFaults& faults = serve.faults;
        valued_ = {
            {"--link", [&](const std::string& v) { serve.link = v; }},
            {"--ready", [&](const std::string& v) { serve.ready = v; }},
            {"--status", [&](const std::string& v) { serve.status = v; }},
            {"--flash", [&](const std::string& v) { device.flash_file = v; }},
            {"--chip-id", [&](const std::string& v) { device.chip_id = parse_hex("--chip-id", v); }},
            {"--budget", [&](const std::string& v) { device.instruction_budget = positive("--budget", v); }},
            {"--timing", [&](const std::string& v) { device.timing = parse_timing(v); }},
            {"--greeting", [&](const std::string& v) { faults.greeting = parse_greeting(v); }},
            {"--bad-prompt", [&](const std::string& v) { faults.bad_prompt = positive("--bad-prompt", v); }},
            {"--silent-after", [&](const std::string& v) { faults.silent_after = parse_count("--silent-after", v); }},
            {"--close-after", [&](const std::string& v) { faults.close_after = positive("--close-after", v); }},
            {"--trickle", [&](const std::string& v) { faults.trickle_ms = parse_ms("--trickle", v); }},
            {"--flip-byte", [&](const std::string& v) { faults.flipped_byte = parse_flipped_byte(v); }},
            {"--locked", [&](const std::string& v) { device.locked_regions |= parse_regions("--locked", v); }},
            {"--corrupt", [&](const std::string& v) { device.corrupt_address = parse_hex("--corrupt", v); }},
            {"--stuck-lock", [&](const std::string& v) { device.stuck_locks |= parse_regions("--stuck-lock", v); }},
            {"--fail-command", [&](const std::string& v) { device.failing_command = parse_failing_command(v); }},
            {"--ignore-lock", [&](const std::string& v) { device.ignored_locks |= parse_regions("--ignore-lock", v); }},
            {"--skip-run", [&](const std::string& v) { device.skipped_run = positive("--skip-run", v); }},
        };
        flags_ = {
            {"--fsr-never-ready", [&] { device.fsr_never_ready = true; }},
            {"--ignore-gpnvm", [&] { device.ignore_gpnvm = true; }},
            {"--help", [&] { line.help = true; }},
            {"-h", [&] { line.help = true; }},
        };
    }

    void parse(const std::vector<std::string>& arguments) {
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const std::string& argument = arguments[i];
            if (const auto flag = flags_.find(argument); flag != flags_.end()) {
                flag->second();
                continue;
            }
            const std::size_t equals = argument.find('=');
            const std::string name = argument.substr(0, equals);
            if (!valued_.count(name) && !timing_fields.count(name))
                throw std::invalid_argument("unknown option \"" + argument + "\"");
            if (equals == std::string::npos && i + 1 == arguments.size())
                throw std::invalid_argument(name + " needs a value");
            take(name, equals == std::string::npos ? arguments[++i] : argument.substr(equals + 1));
        }
        for (const auto& [field, ms] : overrides_) line_.device.timing.*field = ms;
        line_.serve.latency_ms = line_.device.timing.latency_ms;
        line_.serve.link_bytes_per_ms = line_.device.timing.link_bytes_per_ms;
        if (!line_.help && line_.serve.link.empty()) throw std::invalid_argument("--link PATH is required");
    }

private:
    void take(const std::string& name, const std::string& value) {
        if (const auto field = timing_fields.find(name); field != timing_fields.end())
            overrides_.emplace_back(field->second.field, parse_amount(name, value, field->second.unit));
        else
            valued_.at(name)(value);
    }

    CommandLine& line_;
    std::map<std::string, std::function<void(const std::string&)>> valued_;
    std::map<std::string, std::function<void()>> flags_;
    std::vector<std::pair<TimingField, double>> overrides_;
};

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& arguments) {
    CommandLine line;
    Parser(line).parse(arguments);
    return line;
}
