// Reading a whole regular file, one back end per platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The largest file read whole: far beyond any image with debug information,
// small enough to hold in memory on any PC.
inline constexpr std::uint64_t largest_file_read = 256u * 1024 * 1024;

// cannot_open: for another reason than the two before it.
enum class FileRead { done, not_found, access_denied, cannot_open, not_regular_file, too_large, read_failed };

// Reads the file at `path` (UTF-8) into `contents`. Anything but a regular
// file is refused before it is read, so a FIFO or a device never blocks;
// a file longer than `size_limit` is refused unread. `system_code` gets
// errno or GetLastError() on a failed call.
[[nodiscard]] FileRead read_regular_file(const std::string& path, std::uint64_t size_limit,
                                         std::vector<unsigned char>& contents, long& system_code);
