#include "image_file.h"

#include "files/input_file.h"
#include "files/standard_input.h"
#include "sha256.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

constexpr std::uint64_t flash_end = std::uint64_t{flash_base} + flash_size;

// The flash as the image fills it, with the line or segment that gave each
// byte, so that an overlap names both.
class FlashCanvas {
public:
    // outside_flash or overlap on refusal (`earlier` then names the giver).
    [[nodiscard]] bool place(std::uint64_t address, unsigned char value, std::int32_t giver,
                             ImageFault& fault, long& earlier) {
        if (address < flash_base || address >= flash_end) {
            fault = ImageFault::outside_flash;
            return false;
        }
        std::size_t offset = static_cast<std::size_t>(address - flash_base);
        if (offset >= bytes_.size())
            grow_to_hold(offset);
        if (giver_[offset] != nobody) {
            fault = ImageFault::overlap;
            earlier = giver_[offset];
            return false;
        }
        giver_[offset] = giver;
        bytes_[offset] = value;
        end_ = std::max(end_, offset + 1);
        return true;
    }

    [[nodiscard]] bool empty() const { return end_ == 0; }

    [[nodiscard]] std::vector<AddressRange> ranges() const {
        std::vector<AddressRange> found;
        for (std::size_t offset = 0; offset < end_; ++offset) {
            if (giver_[offset] == nobody)
                continue;
            const auto address = static_cast<std::uint32_t>(flash_base + offset);
            if (!found.empty() && found.back().last + 1 == address)
                found.back().last = address;
            else
                found.push_back({address, address});
        }
        return found;
    }

    [[nodiscard]] std::vector<unsigned char> take_bytes() {
        bytes_.resize(end_);
        return std::move(bytes_);
    }

private:
    // Grown as the image reaches further, so that a small image costs little.
    void grow_to_hold(std::size_t offset) {
        std::size_t size = std::min<std::size_t>(std::max(offset + 1, 2 * bytes_.size()), flash_size);
        bytes_.resize(size, 0xFF);
        giver_.resize(size, nobody);
    }

    static constexpr std::int32_t nobody = -1;
    std::vector<unsigned char> bytes_;
    std::vector<std::int32_t> giver_;
    std::size_t end_ = 0;
};

bool refuse(ImageError& error, ImageFault fault) {
    error.fault = fault;
    return false;
}

bool refuse_at(ImageError& error, ImageFault fault, std::uint64_t address) {
    error.has_address = true;
    error.address = static_cast<std::uint32_t>(address);
    return refuse(error, fault);
}

std::string lowercase_extension(const std::string& path) {
    std::size_t name_start = path.find_last_of("/\\");
    std::string_view name = std::string_view(path).substr(name_start == std::string::npos ? 0 : name_start + 1);
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    std::string extension(name.substr(dot + 1));
    for (char& letter : extension)
        if (letter >= 'A' && letter <= 'Z')
            letter = static_cast<char>(letter - 'A' + 'a');
    return extension;
}

int hex_value(unsigned char digit) {
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'a' && digit <= 'f')
        return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    return -1;
}

// ---- Intel HEX ----

struct HexRecord {
    std::vector<unsigned char> fields;  // length, address (2), type, data, checksum
    [[nodiscard]] unsigned length() const { return fields[0]; }
    [[nodiscard]] unsigned offset() const { return (fields[1] << 8) | fields[2]; }
    [[nodiscard]] unsigned type() const { return fields[3]; }
    [[nodiscard]] const unsigned char* data() const { return fields.data() + 4; }
    [[nodiscard]] unsigned data_word() const { return (fields[4] << 8) | fields[5]; }
};

// Where the data records go: type 04 sets a linear base, type 02 a segment
// base whose offsets wrap within their 64 KiB.
struct HexAddressing {
    std::uint64_t base = 0;
    bool segmented = false;
    [[nodiscard]] std::uint64_t address_of(unsigned offset, unsigned index) const {
        if (segmented)
            return base + ((offset + index) & 0xFFFF);
        return base + offset + index;
    }
};

bool decode_hex_record(std::string_view line, HexRecord& record, ImageError& error) {
    if (line.front() != ':')
        return refuse(error, ImageFault::hex_no_colon);
    std::string_view digits = line.substr(1);
    for (std::size_t index = 0; index < digits.size(); ++index) {
        if (hex_value(static_cast<unsigned char>(digits[index])) < 0) {
            error.column = static_cast<long>(index + 2);
            error.value = static_cast<unsigned char>(digits[index]);
            return refuse(error, ImageFault::hex_bad_digit);
        }
    }
    if (digits.size() % 2 != 0)
        return refuse(error, ImageFault::hex_odd_digits);
    auto byte_at = [digits](std::size_t index) {
        return static_cast<unsigned char>(hex_value(static_cast<unsigned char>(digits[2 * index])) * 16 +
                                          hex_value(static_cast<unsigned char>(digits[2 * index + 1])));
    };
    std::size_t byte_count = digits.size() / 2;
    if (byte_count < 5)
        return refuse(error, ImageFault::hex_too_short);
    // Checked before decoding, so that a long line costs no memory.
    if (byte_count != byte_at(0) + 5u) {
        error.value = byte_at(0);
        error.actual = byte_count - 5;
        return refuse(error, ImageFault::hex_length_mismatch);
    }
    record.fields.clear();
    for (std::size_t index = 0; index < byte_count; ++index)
        record.fields.push_back(byte_at(index));
    unsigned sum = 0;
    for (std::size_t index = 0; index + 1 < record.fields.size(); ++index)
        sum += record.fields[index];
    unsigned needed = (0x100 - (sum & 0xFF)) & 0xFF;
    if (record.fields.back() != needed) {
        error.value = record.fields.back();
        error.actual = needed;
        return refuse(error, ImageFault::hex_bad_checksum);
    }
    return true;
}

// The length each record type other than data must have.
int fixed_length_of(unsigned type) {
    switch (type) {
    case 1: return 0;
    case 2: case 4: return 2;
    case 3: case 5: return 4;
    default: return -1;
    }
}

bool apply_hex_record(const HexRecord& record, long line, HexAddressing& addressing, FlashCanvas& flash,
                      bool& end_seen, ImageError& error) {
    unsigned type = record.type();
    if (type == 0) {
        for (unsigned index = 0; index < record.length(); ++index) {
            std::uint64_t address = addressing.address_of(record.offset(), index);
            ImageFault fault{};
            if (!flash.place(address, record.data()[index], static_cast<std::int32_t>(line), fault, error.earlier))
                return refuse_at(error, fault, address);
        }
        return true;
    }
    int fixed_length = fixed_length_of(type);
    if (fixed_length < 0) {
        error.value = type;
        return refuse(error, ImageFault::hex_unknown_type);
    }
    if (record.length() != static_cast<unsigned>(fixed_length)) {
        error.value = record.length();
        error.actual = type;
        return refuse(error, ImageFault::hex_bad_field_length);
    }
    if (type == 1)
        end_seen = true;
    if (type == 2)
        addressing = {std::uint64_t{record.data_word()} << 4, true};
    if (type == 4)
        addressing = {std::uint64_t{record.data_word()} << 16, false};
    return true;  // 03 and 05 give a start address, which flashing has no use for
}

// The next line without its ending (LF, CR LF or CR) and trailing blanks.
std::string_view next_line(std::string_view& text) {
    std::size_t end = text.find_first_of("\r\n");
    std::string_view line = text.substr(0, end);
    if (end == std::string_view::npos)
        text = {};
    else
        text.remove_prefix(end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    return line;
}

bool parse_hex(std::span<const unsigned char> contents, FlashCanvas& flash, ImageError& error) {
    std::string_view text(reinterpret_cast<const char*>(contents.data()), contents.size());
    if (text.starts_with("\xEF\xBB\xBF"))  // the byte order mark Windows editors may put first
        text.remove_prefix(3);
    HexAddressing addressing;
    HexRecord record;
    bool end_seen = false;
    long line_number = 0;
    while (!text.empty()) {
        std::string_view line = next_line(text);
        ++line_number;
        if (line.empty())
            continue;
        error.line = line_number;
        if (end_seen)
            return refuse(error, ImageFault::hex_data_after_eof);
        if (!decode_hex_record(line, record, error))
            return false;
        if (!apply_hex_record(record, line_number, addressing, flash, end_seen, error))
            return false;
    }
    if (!end_seen) {
        error.line = line_number;
        return refuse(error, ImageFault::hex_missing_eof);
    }
    error.line = 0;
    return true;
}

// Whether a file taken as raw starts with an Intel HEX record instead.
bool starts_like_hex(std::span<const unsigned char> contents) {
    std::string_view text(reinterpret_cast<const char*>(contents.data()), contents.size());
    std::string_view line = next_line(text);
    if (line.size() < 11 || line.front() != ':')
        return false;
    return std::all_of(line.begin() + 1, line.end(),
                       [](char digit) { return hex_value(static_cast<unsigned char>(digit)) >= 0; });
}

// ---- ELF ----

constexpr std::size_t elf_header_size = 52;
constexpr std::size_t program_header_size = 32;

std::uint32_t read32(std::span<const unsigned char> bytes, std::size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (std::uint32_t{bytes[at + 3]} << 24);
}

std::uint16_t read16(std::span<const unsigned char> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

bool has_elf_magic(std::span<const unsigned char> contents) {
    return contents.size() >= 4 && std::memcmp(contents.data(), "\x7F" "ELF", 4) == 0;
}

bool check_elf_header(std::span<const unsigned char> contents, ImageError& error) {
    if (contents.size() < elf_header_size)
        return refuse(error, ImageFault::elf_truncated);
    if (contents[4] != 1) {
        error.value = contents[4];
        return refuse(error, ImageFault::elf_not_32bit);
    }
    if (contents[5] != 1)
        return refuse(error, ImageFault::elf_not_little_endian);
    if (contents[6] != 1 || read32(contents, 20) != 1)
        return refuse(error, ImageFault::elf_bad_version);
    error.value = read16(contents, 18);
    if (error.value != 40)  // EM_ARM
        return refuse(error, ImageFault::elf_not_arm);
    error.value = read16(contents, 16);
    if (error.value != 2)  // ET_EXEC
        return refuse(error, ImageFault::elf_not_executable);
    error.value = 0;
    std::uint16_t header_count = read16(contents, 44);
    if (header_count == 0xFFFF)  // the count would be in section header 0
        return refuse(error, ImageFault::elf_too_many_headers);
    if (header_count > 0 && read16(contents, 42) != program_header_size) {
        error.value = read16(contents, 42);
        return refuse(error, ImageFault::elf_bad_header_size);
    }
    std::uint64_t table_end = std::uint64_t{read32(contents, 28)} + std::uint64_t{header_count} * program_header_size;
    if (table_end > contents.size())
        return refuse(error, ImageFault::elf_truncated);
    return true;
}

bool place_elf_segment(std::span<const unsigned char> contents, std::size_t header, int index,
                       FlashCanvas& flash, ImageError& error) {
    std::uint32_t file_offset = read32(contents, header + 4);
    std::uint32_t physical_address = read32(contents, header + 12);
    std::uint32_t file_size = read32(contents, header + 16);
    std::uint32_t memory_size = read32(contents, header + 20);
    error.segment = index;
    if (std::uint64_t{file_offset} + file_size > contents.size())
        return refuse_at(error, ImageFault::elf_truncated, physical_address);
    if (file_size > memory_size)
        return refuse_at(error, ImageFault::elf_file_beyond_memory, physical_address);
    for (std::uint32_t index_in_segment = 0; index_in_segment < file_size; ++index_in_segment) {
        std::uint64_t address = std::uint64_t{physical_address} + index_in_segment;
        ImageFault fault{};
        if (!flash.place(address, contents[file_offset + index_in_segment], index, fault, error.earlier))
            return refuse_at(error, fault, address);
    }
    error.segment = -1;
    return true;
}

bool parse_elf(std::span<const unsigned char> contents, FlashCanvas& flash, ImageError& error) {
    if (!check_elf_header(contents, error))
        return false;
    std::uint32_t table = read32(contents, 28);
    std::uint16_t header_count = read16(contents, 44);
    for (int index = 0; index < header_count; ++index) {
        std::size_t header = table + static_cast<std::size_t>(index) * program_header_size;
        bool loadable = read32(contents, header) == 1;  // PT_LOAD
        if (loadable && read32(contents, header + 16) > 0 && !place_elf_segment(contents, header, index, flash, error))
            return false;
    }
    return true;
}

// ---- raw ----

bool parse_raw(std::span<const unsigned char> contents, std::uint32_t address, FlashCanvas& flash,
               ImageError& error) {
    if (address + std::uint64_t{contents.size()} > flash_end) {
        error.value = contents.size();
        return contents.size() > flash_size ? refuse(error, ImageFault::raw_too_large)
                                            : refuse_at(error, ImageFault::raw_past_flash_end, address);
    }
    if (starts_like_hex(contents))
        return refuse(error, ImageFault::raw_looks_like_hex);
    for (std::size_t offset = 0; offset < contents.size(); ++offset) {
        ImageFault fault{};
        if (!flash.place(address + offset, contents[offset], 0, fault, error.earlier))
            return refuse_at(error, fault, address + offset);
    }
    return true;
}

std::string recognised_format(const std::string& path, std::span<const unsigned char> contents) {
    if (has_elf_magic(contents))
        return "elf";
    std::string extension = lowercase_extension(path);
    if (extension == "hex" || extension == "ihex")
        return "ihex";
    if (extension == "elf")
        return "not elf";
    return "raw";
}

std::string format_by_contents(std::span<const unsigned char> contents) {
    if (has_elf_magic(contents))
        return "elf";
    std::string_view text(reinterpret_cast<const char*>(contents.data()), contents.size());
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    return text.starts_with(':') ? "ihex" : "raw";
}

bool parse_as(const std::string& format, std::span<const unsigned char> contents, RawPlacement placement,
              ImageFile& image, ImageError& error) {
    error.format = format;
    if (contents.empty())
        return refuse(error, ImageFault::empty);
    if (placement.chosen && format != "raw")
        return refuse(error, ImageFault::address_not_raw);
    FlashCanvas flash;
    bool parsed = format == "elf"    ? parse_elf(contents, flash, error)
                  : format == "ihex" ? parse_hex(contents, flash, error)
                                     : parse_raw(contents, placement.address, flash, error);
    if (!parsed)
        return false;
    if (flash.empty())
        return refuse(error, ImageFault::empty);
    image.format = format;
    image.ranges = flash.ranges();
    image.bytes = flash.take_bytes();
    return true;
}

// True when the read was done; else false with its refusal.
bool read_done(FileRead read, ImageError& error) {
    switch (read) {
    case FileRead::done: return true;
    case FileRead::not_found: return refuse(error, ImageFault::file_not_found);
    case FileRead::access_denied: return refuse(error, ImageFault::access_denied);
    case FileRead::cannot_open: return refuse(error, ImageFault::cannot_open);
    case FileRead::not_regular_file: return refuse(error, ImageFault::not_regular_file);
    case FileRead::too_large: return refuse(error, ImageFault::file_too_large);
    case FileRead::read_failed: return refuse(error, ImageFault::read_failed);
    }
    return refuse(error, ImageFault::read_failed);
}

}  // namespace

bool parse_image(const std::string& path, std::span<const unsigned char> contents, ImageFile& image,
                 ImageError& error, RawPlacement placement) {
    error = ImageError{};
    error.file = path;
    std::string format = recognised_format(path, contents);
    if (format == "not elf")
        return refuse(error, ImageFault::elf_bad_magic);
    return parse_as(format, contents, placement, image, error);
}

bool load_image(const std::string& path, ImageFile& image, ImageError& error, RawPlacement placement) {
    error = ImageError{};
    error.file = path;
    std::vector<unsigned char> contents;
    if (!read_done(read_regular_file(path, NameEncoding::utf8, largest_file_read, contents, error.system_code), error))
        return false;
    if (!parse_image(path, contents, image, error, placement))
        return false;
    image.sha256 = sha256_hex(contents.data(), contents.size());
    return true;
}

bool load_standard_input_image(const std::string& shown_name, ImageFile& image, ImageError& error,
                               RawPlacement placement) {
    error = ImageError{};
    error.file = shown_name;
    std::vector<unsigned char> contents;
    if (!read_done(read_standard_input(largest_file_read, contents, error.system_code), error))
        return false;
    if (!parse_as(format_by_contents(contents), contents, placement, image, error))
        return false;
    image.sha256 = sha256_hex(contents.data(), contents.size());
    return true;
}

std::vector<std::uint32_t> image_blocks(const ImageFile& image) {
    std::vector<std::uint32_t> blocks;
    for (const AddressRange& range : image.ranges) {
        const std::uint32_t last = (range.last - flash_base) / page_size;
        for (std::uint32_t block = (range.first - flash_base) / page_size; block <= last; ++block)
            if (blocks.empty() || blocks.back() < block)
                blocks.push_back(block);
    }
    return blocks;
}
