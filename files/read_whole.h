// The reading loop both back ends of read_regular_file share; only the call
// that reads differs between platforms.
#pragma once

#include "files/input_file.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Reads with `read_some(buffer, capacity)`, which gives the count read, 0 at
// the end, or -1 with `system_code` set. The loop goes on to the end rather
// than to `size_seen`, since the file may grow meanwhile, and stops as soon
// as one byte beyond `size_limit` has come.
template <typename ReadSome>
[[nodiscard]] FileRead read_whole(ReadSome read_some, std::uint64_t size_seen, std::uint64_t size_limit,
                                  std::vector<unsigned char>& contents) {
    contents.clear();
    if (size_seen > size_limit) return FileRead::too_large;
    contents.reserve(static_cast<std::size_t>(size_seen));
    constexpr std::uint64_t chunk = 64 * 1024;
    for (;;) {
        const std::size_t had = contents.size();
        const std::uint64_t room = size_limit - had;
        const auto wanted = static_cast<std::size_t>(room < chunk ? room + 1 : chunk);
        contents.resize(had + wanted);
        const long count = read_some(contents.data() + had, wanted);
        if (count < 0) {
            contents.clear();
            return FileRead::read_failed;
        }
        contents.resize(had + static_cast<std::size_t>(count));
        if (count == 0) return FileRead::done;
        if (contents.size() > size_limit) {
            contents.clear();
            return FileRead::too_large;
        }
    }
}
