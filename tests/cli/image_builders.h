// Intel HEX records and ELF files made in the tests themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ElfSegment {
    std::uint32_t type = 1;  // PT_LOAD
    std::uint32_t physical_address = 0;
    std::vector<unsigned char> contents;
    std::uint32_t memory_size = 0;  // 0: the size of the contents
};

// One record with its checksum, ending in a line feed.
std::string hex_record(unsigned type, unsigned offset, const std::vector<unsigned char>& data);

// A 32-bit little-endian ARM executable: header, program headers, contents.
std::vector<unsigned char> elf_file(const std::vector<ElfSegment>& segments);

std::vector<unsigned char> bytes_of(const std::string& text);
