// The boot monitor's command codec: word, half-word and byte writes and
// reads, block sends and reads, and starting code, as the monitor's text
// frames over the serial transport.
//
// Frames are a command letter, the address as 8 capital hexadecimal digits,
// a comma, a value or length field and "#". A failed send or read has closed
// the port (a transport failure), so every later command fails too; a
// missing prompt leaves it open.
#pragma once

#include <cstdint>

// not_sent: the frame, or the data after it; not_read: a reply did not
// arrive in full; no_prompt: the reply's prompt was not ">".
enum class [[nodiscard]] MonitorResult : int { ok = 0, not_sent = 1, not_read = 2, no_prompt = 3 };

MonitorResult monitor_write_word(std::uint32_t address, std::uint32_t value);
MonitorResult monitor_write_half(std::uint32_t address, std::uint32_t value);  // low 16 bits
MonitorResult monitor_write_byte(std::uint32_t address, std::uint32_t value);  // low 8 bits

// The value the reply carries: only "0"-"9" and "A"-"F" count as digits, any
// other character counts as 0. ok, not_sent or not_read; `value` is set only
// on ok.
MonitorResult monitor_read_word(std::uint32_t address, std::uint32_t& value);
MonitorResult monitor_read_half(std::uint32_t address, std::uint32_t& value);
MonitorResult monitor_read_byte(std::uint32_t address, std::uint32_t& value);

// A block to or from target memory.
MonitorResult monitor_send_block(std::uint32_t address, const unsigned char* data, std::uint32_t length);
MonitorResult monitor_read_block(std::uint32_t address, unsigned char* destination, std::uint32_t length);

// The steps of a block send, for callers that tell them apart: the frame
// announcing `length` bytes (ok or not_sent), then the data with port_write,
// then monitor_read_prompt (ok, not_read or no_prompt).
MonitorResult monitor_send_block_frame(std::uint32_t address, std::uint32_t length);
MonitorResult monitor_read_prompt();

// Starts the code at the address; nothing is read. ok or not_sent.
MonitorResult monitor_go(std::uint32_t address);
