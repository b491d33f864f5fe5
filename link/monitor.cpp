#include "link/monitor.h"

#include "link/serial.h"

namespace {

char command_frame[20];
unsigned char reply_buffer[16];

constexpr unsigned char prompt = '>';
// Reply lengths of the word, half-word and byte reads.
constexpr std::uint32_t word_reply_length = 15;
constexpr std::uint32_t half_reply_length = 11;
constexpr std::uint32_t byte_reply_length = 9;
// Where the value's digits start in a read reply.
constexpr int reply_digits_at = 4;

// Writes `digits` capital hexadecimal digits of the low bits of `value`.
void put_hex(char* at, std::uint32_t value, int digits) {
    static const char hex[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i) {
        at[i] = hex[value & 0xF];
        value >>= 4;
    }
}

// Builds letter, address, comma and a `digits`-wide field, then "#";
// returns the count of bytes to send.
std::uint32_t build_frame(char letter, std::uint32_t address, std::uint32_t field, int digits) {
    command_frame[0] = letter;
    put_hex(command_frame + 1, address, 8);
    command_frame[9] = ',';
    put_hex(command_frame + 10, field, digits);
    command_frame[10 + digits] = '#';
    command_frame[11 + digits] = '\0';
    return static_cast<std::uint32_t>(11 + digits);
}

MonitorResult send_frame(std::uint32_t length) {
    return port_write(command_frame, length) == PortWrite::written ? MonitorResult::ok : MonitorResult::not_sent;
}

MonitorResult write_value(char letter, std::uint32_t address, std::uint32_t value, int digits) {
    if (send_frame(build_frame(letter, address, value, digits)) != MonitorResult::ok) return MonitorResult::not_sent;
    return monitor_read_prompt();
}

// The number in the reply's digit positions, most significant first.
std::uint32_t reply_value(int digits) {
    std::uint32_t value = 0;
    for (int i = 0; i < digits; ++i) {
        const unsigned char c = reply_buffer[reply_digits_at + i];
        const std::uint32_t digit = c >= 'A' && c <= 'F' ? c - 'A' + 10u : c >= '0' && c <= '9' ? c - '0' : 0u;
        value = value * 16 + digit;
    }
    return value;
}

// Read frames carry the width in bytes as their one-digit field.
MonitorResult read_value(char letter, std::uint32_t address, std::uint32_t width, std::uint32_t reply_length,
                         std::uint32_t& value) {
    if (send_frame(build_frame(letter, address, width, 1)) != MonitorResult::ok) return MonitorResult::not_sent;
    if (port_read(reply_buffer, reply_length) != PortRead::complete) return MonitorResult::not_read;
    value = reply_value(2 * static_cast<int>(width));
    return MonitorResult::ok;
}

}  // namespace

MonitorResult monitor_write_word(std::uint32_t address, std::uint32_t value) { return write_value('W', address, value, 8); }
MonitorResult monitor_write_half(std::uint32_t address, std::uint32_t value) { return write_value('H', address, value, 4); }
MonitorResult monitor_write_byte(std::uint32_t address, std::uint32_t value) { return write_value('O', address, value, 2); }

MonitorResult monitor_read_word(std::uint32_t address, std::uint32_t& value) {
    return read_value('w', address, 4, word_reply_length, value);
}
MonitorResult monitor_read_half(std::uint32_t address, std::uint32_t& value) {
    return read_value('h', address, 2, half_reply_length, value);
}
MonitorResult monitor_read_byte(std::uint32_t address, std::uint32_t& value) {
    return read_value('o', address, 1, byte_reply_length, value);
}

MonitorResult monitor_send_block_frame(std::uint32_t address, std::uint32_t length) {
    return send_frame(build_frame('S', address, length, 8));
}

MonitorResult monitor_read_prompt() {
    if (port_read(reply_buffer, 3) != PortRead::complete) return MonitorResult::not_read;
    return reply_buffer[2] == prompt ? MonitorResult::ok : MonitorResult::no_prompt;
}

MonitorResult monitor_send_block(std::uint32_t address, const unsigned char* data, std::uint32_t length) {
    if (monitor_send_block_frame(address, length) != MonitorResult::ok ||
        port_write(data, length) != PortWrite::written)
        return MonitorResult::not_sent;
    return monitor_read_prompt();
}

MonitorResult monitor_read_block(std::uint32_t address, unsigned char* destination, std::uint32_t length) {
    if (send_frame(build_frame('R', address, length, 8)) != MonitorResult::ok) return MonitorResult::not_sent;
    if (port_read(reply_buffer, 2) != PortRead::complete || port_read(destination, length) != PortRead::complete ||
        port_read(reply_buffer, 1) != PortRead::complete)
        return MonitorResult::not_read;
    return reply_buffer[0] == prompt ? MonitorResult::ok : MonitorResult::no_prompt;
}

MonitorResult monitor_go(std::uint32_t address) {
    command_frame[0] = 'G';
    put_hex(command_frame + 1, address, 8);
    command_frame[9] = '#';
    return send_frame(10);
}
