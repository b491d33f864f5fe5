// What one platform's serial back end (serial_posix.cpp, serial_win32.cpp)
// gives the transport: the port handle and one primitive per system service.
// Every primitive that fails leaves the name of the failed call and the
// system's reason in platform_failure().
#pragma once

#include "link/serial.h"

#include <cstdint>
#include <string>

// Opens port COM`number` for reading and writing, without sharing.
PortOpen platform_open_port(int number);
// The same for a device path as the user gave it.
PortOpen platform_open_port_path(const char* path);
// The name the operator knows the port last tried by: "COM3", or its path.
const char* platform_port_name();
// The platform's device path of port COM`number`.
std::string platform_port_path(int number);
// Whether the device at `path` exists, whoever has it open.
bool platform_port_present(const char* path);
// Event mask and queue sizes; their outcome does not matter.
void platform_prepare_port();
// Applies the read and write time-outs of link_timeout_ms.
bool platform_set_timeouts();
// Applies 115200 baud, 8 data bits, no parity, one stop bit, no flow control.
bool platform_apply_settings();
// One read call (see the read contract in serial.h): stores the count of
// bytes read in `feedback`; false only when the port failed.
bool platform_read_call(unsigned char* destination, std::uint32_t count, std::uint32_t* feedback);
// One write call; ends when all is written or link_timeout_ms after it began.
bool platform_write_call(const unsigned char* source, std::uint32_t count, std::uint32_t* feedback);
void platform_close_port();
bool platform_port_open();
// The open port set aside, so that the search can try the others without
// greeting this one again; taken back, or closed, later.
struct ParkedPort {
    std::intptr_t handle;
    std::string name;
};
ParkedPort platform_park_port();
void platform_resume_port(const ParkedPort& port);
void platform_close_parked(const ParkedPort& port);
// Milliseconds from an arbitrary origin, wrapping at 2^32.
std::uint32_t platform_tick_ms();
const char* platform_failure();
