// The image loader fed arbitrary files: the first byte picks the file's name
// (and so Intel HEX or raw by extension), the rest is its contents.
#include "image_file.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const file_names[] = {"image.hex", "image.bin", "image.elf", "IMAGE.IHEX"};

void require(bool condition) {
    if (!condition)
        std::abort();
}

bool in_flash(std::uint32_t address) { return address - flash_base < flash_size; }

void check_accepted(std::span<const unsigned char> contents, const ImageFile& image) {
    require(!image.bytes.empty() && image.bytes.size() <= flash_size);
    bool elf = contents.size() >= 4 && std::memcmp(contents.data(), "\x7F" "ELF", 4) == 0;
    require((image.format == "elf") == elf);
    if (image.format == "raw")
        require(std::equal(contents.begin(), contents.end(), image.bytes.begin(), image.bytes.end()));
}

void check_refused(const std::string& name, const ImageError& error) {
    for (bool russian : {false, true}) {
        std::string message = error.message(russian);
        require(message.rfind(name + ": ", 0) == 0 && message.size() > name.size() + 2);
    }
    if (error.fault == ImageFault::outside_flash)
        require(error.has_address && !in_flash(error.address));
    if (error.fault == ImageFault::overlap)
        require(error.has_address && in_flash(error.address));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::string name = file_names[data[0] % std::size(file_names)];
    std::span<const unsigned char> contents(data + 1, size - 1);
    ImageFile image;
    ImageError error;
    if (parse_image(name, contents, image, error))
        check_accepted(contents, image);
    else
        check_refused(name, error);
    return 0;
}
