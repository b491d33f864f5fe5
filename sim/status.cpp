#include "sim/status.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

class JsonLines {
public:
    JsonLines() { out_ << "{\n"; }
    void number(const std::string& key, std::uint64_t value) { line(key, std::to_string(value)); }
    void raw(const std::string& key, const std::string& value) { line(key, value); }
    void text(const std::string& key, const std::string& value) { line(key, quoted(value)); }
    std::string finish() { return out_.str() + "\n}\n"; }

private:
    void line(const std::string& key, const std::string& value) {
        if (!first_) out_ << ",\n";
        first_ = false;
        out_ << "  \"" << key << "\": " << value;
    }
    static std::string quoted(const std::string& value) {
        std::string result = "\"";
        for (const char c : value) {
            if (c == '"' || c == '\\') {
                result += '\\';
                result += c;
            } else if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                result += escape;
            } else {
                result += c;
            }
        }
        return result + "\"";
    }

    std::ostringstream out_;
    bool first_ = true;
};

std::string hex_bytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char byte[4];
    for (const std::uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, text.empty() ? "%02X" : " %02X", b);
        text += byte;
    }
    return text;
}

void chip_lines(JsonLines& json, const Device& device) {
    char lock_bits[16];
    std::snprintf(lock_bits, sizeof lock_bits, "0x%08X", device.lock_bits());
    json.text("lock_bits", lock_bits);
    const unsigned gpnvm = device.gpnvm_bits();
    json.raw("gpnvm", "[" + std::to_string(gpnvm & 1) + ", " + std::to_string(gpnvm >> 1 & 1) + ", " +
                          std::to_string(gpnvm >> 2 & 1) + "]");
    json.number("security", device.security_bit() ? 1 : 0);
}

void milliseconds(JsonLines& json, const std::string& key, double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", ms);
    json.raw(key, text);
}

void monitor_lines(JsonLines& json, const MonitorCounters& counters) {
    for (int frame = 0; frame < frame_kind_count; ++frame)
        json.number(std::string("monitor.") + frame_name(static_cast<Frame>(frame)), counters.frames[frame]);
    json.number("monitor.rejected", counters.rejected);
}

void controller_lines(JsonLines& json, const Device& device) {
    for (int controller = 0; controller < controller_count; ++controller) {
        const std::string prefix = "efc" + std::to_string(controller) + ".";
        const ControllerCounters& counters = device.controller_counters(controller);
        for (int command = 0; command < flash_command_count; ++command)
            json.number(prefix + flash_command_name(static_cast<FlashCommand>(command)), counters.accepted[command]);
        json.number(prefix + "LOCKE", counters.locke);
        json.number(prefix + "PROGE", counters.proge);
    }
}

}  // namespace

std::string format_status(const Device& device, const Monitor& monitor, const LinkCounters& link,
                          const std::set<std::string>& link_faults_fired) {
    JsonLines json;
    chip_lines(json, device);
    monitor_lines(json, monitor.counters());
    controller_lines(json, device);
    json.text("debug_unit", hex_bytes(device.debug_unit_output()));
    milliseconds(json, "busy_ms", device.busy_ms() + link.latency_ms + link.transfer_ms + device.run_ms());
    milliseconds(json, "emulation_ms", device.emulation_ms());
    milliseconds(json, "run_ms", device.run_ms());
    milliseconds(json, "link.transfer_ms", link.transfer_ms);
    json.number("link.bytes_in", link.bytes_in);
    json.number("link.bytes_out", link.bytes_out);
    json.number("link.frames_in", monitor.counters().received);
    json.number("link.replies_out", link.replies_out);
    json.number("runs", device.runs());
    json.number("run_instructions", device.run_instructions());
    json.number("run_flash_reads", device.run_flash_reads());
    json.number("resets", device.resets());
    json.raw("firmware_started", device.firmware_started() ? "true" : "false");
    const std::optional<std::string>& hang = monitor.hang();
    if (hang) json.text("hang", *hang);
    else json.raw("hang", "null");
    std::set<std::string> fired = device.fired_faults();
    fired.insert(link_faults_fired.begin(), link_faults_fired.end());
    std::string names;
    for (const std::string& name : fired) names += (names.empty() ? "\"" : ", \"") + name + "\"";
    json.raw("faults_fired", "[" + names + "]");
    return json.finish();
}

bool write_status(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::path temporary = file;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text;
        if (!out) return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, file, error);
    return !error;
}

}  // namespace sim
