#include "image_builders.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

std::string hex_record(unsigned type, unsigned offset, const std::vector<unsigned char>& data) {
    std::vector<unsigned char> fields = {static_cast<unsigned char>(data.size()),
                                         static_cast<unsigned char>(offset >> 8),
                                         static_cast<unsigned char>(offset), static_cast<unsigned char>(type)};
    fields.insert(fields.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (unsigned char field : fields)
        sum += field;
    fields.push_back(static_cast<unsigned char>(0x100 - (sum & 0xFF)));
    std::string record = ":";
    for (unsigned char field : fields) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", field);
        record += digits;
    }
    return record + "\n";
}

namespace {

void put16(std::vector<unsigned char>& file, std::size_t at, unsigned value) {
    file[at] = static_cast<unsigned char>(value);
    file[at + 1] = static_cast<unsigned char>(value >> 8);
}

void put32(std::vector<unsigned char>& file, std::size_t at, std::uint32_t value) {
    put16(file, at, value & 0xFFFF);
    put16(file, at + 2, value >> 16);
}

}  // namespace

std::vector<unsigned char> elf_file(const std::vector<ElfSegment>& segments) {
    std::vector<unsigned char> file(52 + 32 * segments.size());
    const unsigned char identity[] = {0x7F, 'E', 'L', 'F', 1, 1, 1};
    std::copy(std::begin(identity), std::end(identity), file.begin());
    put16(file, 16, 2);   // ET_EXEC
    put16(file, 18, 40);  // EM_ARM
    put32(file, 20, 1);
    put32(file, 24, 0x00100000);
    put32(file, 28, 52);
    put16(file, 40, 52);
    put16(file, 42, 32);
    put16(file, 44, static_cast<unsigned>(segments.size()));
    for (std::size_t index = 0; index < segments.size(); ++index) {
        const ElfSegment& segment = segments[index];
        std::size_t header = 52 + 32 * index;
        auto size = static_cast<std::uint32_t>(segment.contents.size());
        put32(file, header, segment.type);
        put32(file, header + 4, static_cast<std::uint32_t>(file.size()));
        put32(file, header + 8, 0x00200000 + 0x100 * static_cast<std::uint32_t>(index));  // RAM, unused
        put32(file, header + 12, segment.physical_address);
        put32(file, header + 16, size);
        put32(file, header + 20, segment.memory_size ? segment.memory_size : size);
        file.insert(file.end(), segment.contents.begin(), segment.contents.end());
    }
    return file;
}

std::vector<unsigned char> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }
