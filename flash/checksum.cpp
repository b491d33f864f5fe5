#include "flash/checksum.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> crc_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t value = byte;
        for (int bit = 0; bit < 8; ++bit) value = value & 1 ? value >> 1 ^ 0xEDB88320u : value >> 1;
        table[byte] = value;
    }
    return table;
}

constexpr auto table = crc_table();

}  // namespace

std::uint32_t crc32_of(const unsigned char* bytes, std::size_t count) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ crc >> 8;
    return ~crc;
}
