#include "image_builders.h"
#include "image_file.h"
#include "sha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

namespace {

const std::string eof_record = hex_record(1, 0, {});
const std::string flash_base_record = hex_record(4, 0, {0x00, 0x10});

std::vector<unsigned char> patched(std::vector<unsigned char> file, std::size_t at, unsigned char value) {
    file[at] = value;
    return file;
}

struct Refusal {
    const char* name;
    std::string file;
    std::vector<unsigned char> contents;
    ImageFault fault;
    long line = 0;
    int segment = -1;
    std::optional<std::uint32_t> address = std::nullopt;
};

std::vector<Refusal> refusals() {
    const std::vector<unsigned char> four_bytes = {1, 2, 3, 4};
    const auto good_elf = elf_file({{1, 0x00100000, four_bytes}});
    return {
        {"empty hex", "a.hex", {}, ImageFault::empty},
        {"hex without data", "a.hex", bytes_of(flash_base_record + eof_record), ImageFault::empty},
        {"text that is not hex", "a.hex", bytes_of("hello\n"), ImageFault::hex_no_colon, 1},
        {"bad digit", "a.hex", bytes_of(":02000004001G00\n"), ImageFault::hex_bad_digit, 1},
        {"odd digits", "a.hex", bytes_of(flash_base_record + ":0\n"), ImageFault::hex_odd_digits, 2},
        {"too short", "a.hex", bytes_of(":00000001\n"), ImageFault::hex_too_short, 1},
        {"length field too long", "a.hex", bytes_of(":0300000001FE\n"), ImageFault::hex_length_mismatch, 1},
        {"bad checksum", "a.hex", bytes_of(flash_base_record + ":0100000001FF\n"), ImageFault::hex_bad_checksum, 2},
        {"unknown type", "a.hex", bytes_of(hex_record(6, 0, {})), ImageFault::hex_unknown_type, 1},
        {"short extended address", "a.hex", bytes_of(hex_record(4, 0, {0x10})), ImageFault::hex_bad_field_length, 1},
        {"no end record", "a.hex", bytes_of(flash_base_record + hex_record(0, 0, four_bytes)), ImageFault::hex_missing_eof, 2},
        {"record after end", "a.hex", bytes_of(flash_base_record + eof_record + "\n" + hex_record(0, 0, four_bytes)),
         ImageFault::hex_data_after_eof, 4},
        {"hex at address 0", "a.hex", bytes_of(hex_record(0, 0x10, four_bytes) + eof_record), ImageFault::outside_flash,
         1, -1, 0x00000010},
        {"hex past the flash's end", "a.hex",
         bytes_of(hex_record(4, 0, {0x00, 0x17}) + hex_record(0, 0xFFFE, four_bytes) + eof_record),
         ImageFault::outside_flash, 2, -1, 0x00180000},
        {"segment offsets wrap", "a.hex",
         bytes_of(hex_record(2, 0, {0xFF, 0xFF}) + hex_record(0, 0xFFFF, four_bytes) + eof_record),
         ImageFault::outside_flash, 2, -1, 0x000FFFF0},
        {"hex overlap", "a.hex",
         bytes_of(flash_base_record + hex_record(0, 0, four_bytes) + hex_record(0, 3, four_bytes) + eof_record),
         ImageFault::overlap, 3, -1, 0x00100003},
        {"empty raw", "a.bin", {}, ImageFault::empty},
        {"raw over 512 KiB", "a.bin", std::vector<unsigned char>(flash_size + 1), ImageFault::raw_too_large},
        {"raw that is hex", "a.bin", bytes_of(flash_base_record + eof_record), ImageFault::raw_looks_like_hex},
        {".elf without magic", "a.elf", four_bytes, ImageFault::elf_bad_magic},
        {"cut elf header", "a.bin", std::vector<unsigned char>(good_elf.begin(), good_elf.begin() + 40),
         ImageFault::elf_truncated},
        {"64-bit elf", "a", patched(good_elf, 4, 2), ImageFault::elf_not_32bit},
        {"big-endian elf", "a", patched(good_elf, 5, 2), ImageFault::elf_not_little_endian},
        {"x86 elf", "a", patched(good_elf, 18, 3), ImageFault::elf_not_arm},
        {"object file", "a", patched(good_elf, 16, 1), ImageFault::elf_not_executable},
        {"odd program header size", "a", patched(good_elf, 42, 40), ImageFault::elf_bad_header_size},
        {"headers past the end", "a", patched(good_elf, 44, 3), ImageFault::elf_truncated},
        {"segment past the end", "a", std::vector<unsigned char>(good_elf.begin(), good_elf.end() - 1),
         ImageFault::elf_truncated, 0, 0, 0x00100000},
        {"file size over memory size", "a", elf_file({{1, 0x00100000, four_bytes, 2}}),
         ImageFault::elf_file_beyond_memory, 0, 0, 0x00100000},
        {"segment in RAM", "a", elf_file({{1, 0x00100000, four_bytes}, {1, 0x00200000, four_bytes}}),
         ImageFault::outside_flash, 0, 1, 0x00200000},
        {"elf overlap", "a", elf_file({{1, 0x00100000, four_bytes}, {1, 0x00100002, four_bytes}}),
         ImageFault::overlap, 0, 1, 0x00100002},
        {"only bss", "a", elf_file({{1, 0x00100000, {}, 16}}), ImageFault::empty},
    };
}

TEST(ImageFile, RefusesEveryMalformedImageWithItsPlace) {
    for (const Refusal& refusal : refusals()) {
        SCOPED_TRACE(refusal.name);
        ImageFile image;
        ImageError error;
        ASSERT_FALSE(parse_image(refusal.file, refusal.contents, image, error));
        EXPECT_EQ(error.fault, refusal.fault);
        EXPECT_EQ(error.line, refusal.line);
        EXPECT_EQ(error.segment, refusal.segment);
        EXPECT_EQ(error.has_address, refusal.address.has_value());
        for (bool russian : {false, true}) {
            std::string message = error.message(russian);
            EXPECT_EQ(message.rfind(refusal.file + ": ", 0), 0u) << message;
            if (refusal.address) {
                char address[16];
                std::snprintf(address, sizeof address, "0x%08X", *refusal.address);
                EXPECT_NE(message.find(address), std::string::npos) << message;
            }
        }
    }
}

std::vector<unsigned char> with_gap() { return {0xAA, 0xBB, 0xFF, 0xFF, 0xCC}; }

TEST(ImageFile, HexGapsAreErasedFlash) {
    // Segment 0xFFFF reaches the flash's first 64 KiB; a byte order mark and
    // blank lines as editors leave them; the start address is ignored.
    std::string text = "\xEF\xBB\xBF" + hex_record(2, 0, {0xFF, 0xFF}) + hex_record(0, 0x0010, {0xAA, 0xBB}) +
                       flash_base_record + hex_record(0, 0x0004, {0xCC}) + hex_record(5, 0, {0, 0x10, 0, 0}) +
                       "\n" + eof_record;
    ImageFile image;
    ImageError error;
    ASSERT_TRUE(parse_image("dir.bin/fw.iHex", bytes_of(text), image, error)) << error.message(false);
    EXPECT_EQ(image.format, "ihex");
    EXPECT_EQ(image.bytes, with_gap());
}

TEST(ImageFile, ElfLoadsSegmentsWithContentsByPhysicalAddress) {
    auto file = elf_file({{6, 0x00100000, {1, 2, 3}},            // PT_PHDR, not loaded
                          {1, 0x00100004, {0xCC}},               // data: placed in flash, run in RAM
                          {1, 0x00200000, {}, 0x100},            // bss: nothing in the file
                          {1, 0x00100000, {0xAA, 0xBB}}});
    ImageFile image;
    ImageError error;
    ASSERT_TRUE(parse_image("fw.hex", file, image, error)) << error.message(false);
    EXPECT_EQ(image.format, "elf");
    EXPECT_EQ(image.bytes, with_gap());
}

TEST(ImageFile, LoadsFromDiskWithTheFilesHash) {
    auto folder = std::filesystem::temp_directory_path() / ("image-test-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder);
    std::string raw_path = (folder / "fw.bin").string();
    std::ofstream(raw_path, std::ios::binary) << "\xAA\xBB\xFF\xFF\xCC";
    ImageFile image;
    ImageError error;
    ASSERT_TRUE(load_image(raw_path, image, error)) << error.message(false);
    EXPECT_EQ(image.format, "raw");
    EXPECT_EQ(image.bytes, with_gap());
    EXPECT_EQ(image.sha256, sha256_hex("\xAA\xBB\xFF\xFF\xCC", 5));

    EXPECT_FALSE(load_image((folder / "missing.bin").string(), image, error));
    EXPECT_EQ(error.fault, ImageFault::file_not_found);
    EXPECT_FALSE(load_image(folder.string(), image, error));
    EXPECT_EQ(error.fault, ImageFault::not_regular_file);
    std::filesystem::remove_all(folder);
}

}  // namespace
