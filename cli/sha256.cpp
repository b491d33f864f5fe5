#include "sha256.h"

#include "files/input_file.h"
#include "image_file.h"

#include <vector>

std::string Sha256::hex_digest() {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : digest()) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0F];
    }
    return hex;
}

std::string sha256_hex(const void* data, std::size_t size) {
    Sha256 hash;
    hash.add(data, size);
    return hash.hex_digest();
}

bool sha256_of_file(const std::string& path, std::string& hex_digest) {
    std::vector<unsigned char> contents;
    long system_code = 0;
    if (read_regular_file(path, NameEncoding::utf8, largest_file_read, contents, system_code) != FileRead::done)
        return false;
    hex_digest = sha256_hex(contents.data(), contents.size());
    return true;
}
