// The serial transport: the one connection to the device's boot monitor.
//
// All operations work on one process-wide port handle. Every failure on the
// port closes it, so at any moment either a working port is open or none is;
// a port closed by a failure is not reopened.
//
// Read contract: port_read(destination, numb) delivers exactly `numb` bytes
// or fails. It makes read calls for the remaining bytes; one call returns as
// soon as all of them have arrived, or link_timeout_ms after it began with
// what arrived by then (possibly nothing). The first read_attempt_allowance
// calls are always made; after them the read goes on only while less than
// read_budget_ms has passed since the read began.
#pragma once

#include <cstdint>

// The port's read and write time-out: a monitor reply starts well within one
// USB full-speed round trip and its few bytes follow at once.
constexpr std::uint32_t link_timeout_ms = 50;
// Calls a read always makes, so that a reply trickling in is not cut short.
constexpr int read_attempt_allowance = 3;
// How long a read goes on after those calls, counted from its start.
constexpr std::uint32_t read_budget_ms = link_timeout_ms / 3;

// The first and last port numbers tried by the search.
constexpr int first_port_number = 1;
constexpr int last_port_number = 32;

// Tries COM1 to COM32 in turn, printing ".n." for each port that opens, and
// greets the boot monitor on it. Returns 0 with the answering port left open,
// otherwise the code of the last port tried: 1 open failed, 2 time-outs not
// set, 3 settings not applied, 4 greeting not sent, 5 no complete answer,
// 6 wrong answer.
int find_device_port();

// Writes the block. 0 written (possibly only in part when the time-out ended
// the write); 1 no port open; 2 the write failed (port closed).
int port_write(const void* source, std::uint32_t count);

// Reads exactly `numb` bytes (see the read contract above). 0 all arrived;
// 1 a read call failed or no port was open (the "Error 4" box is shown first
// in that case); 2 not all bytes arrived in time. Codes 1 and 2 close the port.
int port_read(void* destination, std::uint32_t numb);

void close_port();
bool port_is_closed();
