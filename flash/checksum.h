// CRC-32 as the applet's CHECKSUM command computes it over each block of
// flash (reflected polynomial 0xEDB88320, initial and final value
// 0xFFFFFFFF): the host's side of the comparison.
#pragma once

#include <cstddef>
#include <cstdint>

std::uint32_t crc32_of(const unsigned char* bytes, std::size_t count);
