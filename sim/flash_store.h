// The device's non-volatile state: the 512 KiB flash array and the lock,
// GPNVM and security bits. Kept in memory, or in a flash file plus
// FILE.nvm beside it so that a device outlives the process that serves it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sim {

struct NonVolatileBits {
    std::uint32_t lock_bits = 0;  // bit r: lock region r
    std::uint8_t gpnvm = 0;       // bits 0-2
    bool security = false;
    bool operator==(const NonVolatileBits&) const = default;
};

class FlashStore {
public:
    // An empty name keeps everything in memory, erased and unlocked. A file
    // is mapped shared, so every change reaches it at once; a missing or
    // short file reads as erased where it has no bytes. Throws
    // std::runtime_error when the file or FILE.nvm cannot be used.
    explicit FlashStore(const std::string& file);
    ~FlashStore();
    FlashStore(const FlashStore&) = delete;
    FlashStore& operator=(const FlashStore&) = delete;

    std::uint8_t* bytes() { return bytes_; }
    const std::uint8_t* bytes() const { return bytes_; }

    const NonVolatileBits& bits() const { return bits_; }
    // Rewrites FILE.nvm when the bits change; a failed write is told on
    // standard error.
    void set_bits(const NonVolatileBits& bits);

    // Pushes the flash contents to the file now rather than when the
    // system gets round to it.
    void sync();

private:
    void map_file();
    void load_bits();
    bool save_bits() const;

    std::string file_;
    std::uint8_t* bytes_ = nullptr;
    std::unique_ptr<std::uint8_t[]> memory_;  // the array when there is no file
    NonVolatileBits bits_;
};

}  // namespace sim
