// The link trace for support: with ZELMIRAN_TRACE=1 in the environment (or
// a program's own switch, such as zelmiran-flash --verbose),
// every byte moved on the port and every port-search failure is written to
// standard error with a time stamp in milliseconds. Standard output is never
// touched.
#pragma once

#include <cstddef>

bool link_trace_on();
// The trace on whatever the environment says, for a program's own switch;
// before the first port is opened, so that the trace is whole.
void switch_link_trace_on();
// `direction` is "TX" or "RX".
void trace_bytes(const char* direction, const unsigned char* data, std::size_t count);
void trace_note(const char* format, ...) __attribute__((format(printf, 1, 2)));
