// The reading loop both back ends of read_regular_file share; only the call
// that reads differs between platforms.
#pragma once

#include "files/input_file.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Reads with `read_some(buffer, capacity)`, which gives the count read, 0 at
// the end, or -1 with the system code kept by the caller. The loop goes on to
// the end rather than to `size_seen`, since the file may grow meanwhile.
template <typename ReadSome>
[[nodiscard]] FileRead read_whole(ReadSome read_some, std::uint64_t size_seen, std::uint64_t size_limit,
                                  std::vector<unsigned char>& contents) {
    contents.clear();
    if (size_seen > size_limit) return FileRead::too_large;
    contents.reserve(static_cast<std::size_t>(size_seen));
    std::vector<unsigned char> chunk(64 * 1024);
    for (;;) {
        const long count = read_some(chunk.data(), chunk.size());
        if (count == 0) return FileRead::done;
        const bool failed = count < 0;
        if (failed || contents.size() + static_cast<std::uint64_t>(count) > size_limit) {
            contents.clear();
            return failed ? FileRead::read_failed : FileRead::too_large;
        }
        contents.insert(contents.end(), chunk.begin(), chunk.begin() + count);
    }
}
