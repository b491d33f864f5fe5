// The boot monitor's command codec: word, half-word and byte writes and
// reads, block sends and reads, and starting code, as the monitor's text
// frames over the serial transport.
//
// Frames are a command letter, the address as 8 capital hexadecimal digits,
// a comma, a value or length field and "#". Results: 0 success; 1 the frame
// (or the data after it) was not sent; 2 a reply was not read in full;
// 3 the reply's prompt was not ">". Codes 1 and 2 come from transport
// failures, which have closed the port, so every later command fails too.
#pragma once

#include <cstdint>

// The updater's transfer unit: one page of the firmware image.
constexpr std::uint32_t page_size = 1024;

// The page in transit: monitor_send_page sends it, monitor_read_page fills it.
extern unsigned char page_buffer[page_size];

int monitor_write_word(std::uint32_t address, std::uint32_t value);
int monitor_write_half(std::uint32_t address, std::uint32_t value);  // low 16 bits
int monitor_write_byte(std::uint32_t address, std::uint32_t value);  // low 8 bits

// Reads into the reply buffer; take the value with parse_reply_value of the
// same width. 0, 1 or 2.
int monitor_read_word(std::uint32_t address);
int monitor_read_half(std::uint32_t address);
int monitor_read_byte(std::uint32_t address);

// Width 4 (word), 2 (half-word) or any other (byte): the number whose digits
// the last read reply holds. Only "0"-"9" and "A"-"F" count; any other
// character counts as 0.
std::uint32_t parse_reply_value(int width);

// The page buffer to or from target memory.
int monitor_send_page(std::uint32_t address);
int monitor_read_page(std::uint32_t address);

// Any block to or from target memory.
int monitor_send_block(std::uint32_t address, const unsigned char* data, std::uint32_t length);
int monitor_read_block(std::uint32_t address, unsigned char* destination, std::uint32_t length);

// The steps of a block send, for callers that tell them apart: the frame
// announcing `length` bytes (0 or 1), then the data with port_write, then
// monitor_read_prompt (0, 2 or 3).
int monitor_send_block_frame(std::uint32_t address, std::uint32_t length);
int monitor_read_prompt();

// Starts the code at the address; nothing is read. 0 or 1.
int monitor_go(std::uint32_t address);
