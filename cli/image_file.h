// Firmware images as zelmiran-flash reads them: a raw binary, Intel HEX or
// ELF, turned into the flash contents they ask for, or refused with a reason
// that names the file, the line or segment and the address.
#pragma once

#include "flash/geometry.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The largest file read whole: far beyond any image with debug information,
// small enough to hold in memory on any PC.
inline constexpr std::uint64_t largest_file_read = 256u * 1024 * 1024;

// Flash addresses from `first` to `last`, both included.
struct AddressRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
};

struct ImageFile {
    std::string format;                // "raw", "ihex" or "elf"
    std::vector<unsigned char> bytes;  // flash contents from flash_base; gaps 0xFF;
                                       // size = highest covered address + 1 - flash_base
    std::vector<AddressRange> ranges;  // the addresses the image gives, ascending, merged where
                                       // contiguous: gaps in `bytes` are no part of them
    std::string sha256;                // of the file as read: 64 lowercase hex digits
};

// Where a raw binary goes. Once an address is chosen, an image that carries
// addresses of its own is refused rather than one of the two ignored.
struct RawPlacement {
    std::uint32_t address = flash_base;
    bool chosen = false;
};

enum class ImageFault {
    file_not_found,
    access_denied,
    cannot_open,          // for another reason, in system_code
    not_regular_file,     // a folder, a pipe, a device
    read_failed,
    file_too_large,       // beyond any image this flash could take
    empty,                // no data at all
    raw_looks_like_hex,   // a raw binary (by its name) whose first line is an Intel HEX record
    elf_bad_magic,        // a name ending in .elf, contents without ELF's magic
    raw_too_large,        // a raw binary longer than the flash (value: its size)
    raw_past_flash_end,   // a raw binary reaching past the flash's end from its load `address` (value: its size)
    address_not_raw,      // a load address chosen for an image with addresses of its own
    outside_flash,        // data at `address` outside the flash
    overlap,              // `address` given again; `earlier` is the line or segment that gave it first
    hex_no_colon,         // a line that does not start with ':'
    hex_bad_digit,        // `value` is the offending byte, `column` its place (from 1)
    hex_odd_digits,
    hex_too_short,        // fewer digits than a record's fixed fields
    hex_length_mismatch,  // the length field (`value`) against the data present (`actual`)
    hex_bad_checksum,     // `value` as written, `actual` the one the record needs
    hex_unknown_type,     // `value` is the record type
    hex_bad_field_length, // a type 01 to 05 record (type in `actual`) whose length (`value`) is not its type's
    hex_missing_eof,
    hex_data_after_eof,
    elf_truncated,        // a header or segment (`segment`, -1 for the headers) past the file's end
    elf_not_32bit,        // `value` is the class (2: 64-bit)
    elf_not_little_endian,
    elf_bad_version,
    elf_not_arm,          // `value` is e_machine
    elf_not_executable,   // `value` is e_type
    elf_bad_header_size,  // e_phentsize (`value`) is not a program header's
    elf_too_many_headers,
    elf_file_beyond_memory, // a segment whose p_filesz exceeds its p_memsz
};

struct ImageError {
    ImageFault fault = ImageFault::empty;
    std::string file;            // the path as given
    std::string format;          // "raw", "ihex" or "elf" once recognised, else empty
    long line = 0;               // Intel HEX: the line, from 1; 0 when none
    int segment = -1;            // ELF: the program header's index, from 0 (readelf's numbering); -1 when none
    long earlier = 0;            // overlap: the line or segment that covered `address` first
    bool has_address = false;
    std::uint32_t address = 0;
    long column = 0;
    std::uint64_t value = 0;
    std::uint64_t actual = 0;
    long system_code = 0;        // errno or GetLastError() for cannot_open and read_failed

    // One sentence or two, UTF-8, with the file named first.
    [[nodiscard]] std::string message(bool russian) const;
};

// Loads, recognises and checks an image; false with `error` filled on any
// refusal. `path` is UTF-8 (the front end converts Windows' wide arguments).
// The file is read once, so the hash and the contents are of the same bytes;
// anything but a regular file is refused without being opened for reading,
// so a FIFO never blocks.
[[nodiscard]] bool load_image(const std::string& path, ImageFile& image, ImageError& error,
                              RawPlacement placement = {});

// load_image for standard input, which has no name to tell the format by:
// ':' first (after a byte order mark) is Intel HEX, ELF's magic is ELF,
// anything else raw. `shown_name` names it in messages.
[[nodiscard]] bool load_standard_input_image(const std::string& shown_name, ImageFile& image, ImageError& error,
                                             RawPlacement placement = {});

// The recognition and checks of load_image on contents already read; `path`
// names the file in messages and chooses Intel HEX by its extension. Leaves
// image.sha256 alone.
[[nodiscard]] bool parse_image(const std::string& path, std::span<const unsigned char> contents,
                               ImageFile& image, ImageError& error, RawPlacement placement = {});

// The page_size blocks the image gives bytes to, by index from the flash's
// start, ascending: what a write has to touch.
[[nodiscard]] std::vector<std::uint32_t> image_blocks(const ImageFile& image);
