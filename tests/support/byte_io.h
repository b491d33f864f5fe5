// Bytes to and from one end of a serial line (a pty master, or a port
// opened as the updater opens it), with time limits.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include <string>

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Writes everything, waiting while the line is full; throws on failure.
void send_bytes(int fd, const Bytes& bytes);
// What arrives until `count` bytes are there, `limit` passes or the line
// hangs up.
Bytes receive_bytes(int fd, std::size_t count, std::chrono::milliseconds limit);
// Everything that arrives until the line stays quiet for `quiet`.
Bytes drain_bytes(int fd, std::chrono::milliseconds quiet);
