// SHA-256 from the platform's library: nettle on Linux, BCrypt on Windows.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const void* data, std::size_t size);
    // The object starts anew after either.
    [[nodiscard]] std::array<unsigned char, 32> digest();
    [[nodiscard]] std::string hex_digest();  // 64 lowercase hex digits

private:
    struct State;
    std::unique_ptr<State> state_;
};

[[nodiscard]] std::string sha256_hex(const void* data, std::size_t size);

// The digest of the file at `path` (UTF-8); false when it is not a regular
// file, cannot be read or is longer than largest_file_read (image_file.h).
[[nodiscard]] bool sha256_of_file(const std::string& path, std::string& hex_digest);
