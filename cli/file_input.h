// Reading a whole regular file, one back end per platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class FileRead { done, cannot_open, not_regular_file, too_large, read_failed };

// Reads the file at `path` (UTF-8) into `contents`. Anything but a regular
// file is refused before it is read, so a FIFO or a device never blocks;
// a file longer than `size_limit` is refused unread. `system_code` gets
// errno or GetLastError() on a failed call.
[[nodiscard]] FileRead read_regular_file(const std::string& path, std::uint64_t size_limit,
                                         std::vector<unsigned char>& contents, long& system_code);
