#include "sim/flash_store.h"

#include "sim/geometry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& file) {
    throw std::runtime_error(what + " " + file + ": " + std::strerror(errno));
}

std::string nvm_name(const std::string& file) { return file + ".nvm"; }

// The in-memory arrays of stores that have gone, for the next ones: test
// suites and fuzz targets make a device per case, and under the sanitizers
// a fresh 512 KiB allocation costs more than all the rest of a case. Never
// destroyed, so that a store that outlives the statics can still give its
// array back.
struct IdleArrays {
    std::mutex mutex;
    std::vector<std::unique_ptr<std::uint8_t[]>> arrays;
};

IdleArrays& idle_arrays() {
    static IdleArrays& idle = *new IdleArrays;
    return idle;
}

std::unique_ptr<std::uint8_t[]> take_array() {
    IdleArrays& idle = idle_arrays();
    const std::lock_guard<std::mutex> lock(idle.mutex);
    if (idle.arrays.empty()) return std::make_unique<std::uint8_t[]>(flash_size);
    std::unique_ptr<std::uint8_t[]> array = std::move(idle.arrays.back());
    idle.arrays.pop_back();
    return array;
}

NonVolatileBits parse_bits(std::istream& in, const std::string& name) {
    NonVolatileBits bits;
    std::string key;
    while (in >> key) {
        bool good = true;
        if (key == "lock_bits") {
            in >> std::hex >> bits.lock_bits >> std::dec;
        } else if (key == "gpnvm") {
            int bit[3] = {};
            in >> bit[0] >> bit[1] >> bit[2];
            for (int i = 0; i < 3; ++i) {
                good = good && (bit[i] == 0 || bit[i] == 1);
                bits.gpnvm |= static_cast<std::uint8_t>((bit[i] & 1) << i);
            }
        } else if (key == "security") {
            int security = 0;
            in >> security;
            good = security == 0 || security == 1;
            bits.security = security == 1;
        } else {
            good = false;
        }
        if (!in || !good) throw std::runtime_error(name + ": cannot read the line of \"" + key + "\"");
    }
    return bits;
}

}  // namespace

FlashStore::FlashStore(const std::string& file) : file_(file) {
    if (file_.empty()) {
        memory_ = take_array();
        bytes_ = memory_.get();
        std::memset(bytes_, 0xFF, flash_size);
        return;
    }
    map_file();
    load_bits();
}

FlashStore::~FlashStore() {
    if (file_.empty()) {
        IdleArrays& idle = idle_arrays();
        const std::lock_guard<std::mutex> lock(idle.mutex);
        idle.arrays.push_back(std::move(memory_));
        return;
    }
    sync();
    munmap(bytes_, flash_size);
}

void FlashStore::map_file() {
    const int fd = open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) fail("cannot open the flash file", file_);
    struct stat info;
    if (fstat(fd, &info) != 0) fail("cannot examine the flash file", file_);
    const auto present = static_cast<std::uint64_t>(info.st_size);
    if (present < flash_size && ftruncate(fd, flash_size) != 0) fail("cannot extend the flash file", file_);
    void* mapping = mmap(nullptr, flash_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (mapping == MAP_FAILED) fail("cannot map the flash file", file_);
    bytes_ = static_cast<std::uint8_t*>(mapping);
    // Flash that was never written reads as erased.
    if (present < flash_size) std::memset(bytes_ + present, 0xFF, flash_size - present);
}

void FlashStore::load_bits() {
    const std::string name = nvm_name(file_);
    std::ifstream in(name);
    if (!in) return;
    bits_ = parse_bits(in, name);
}

bool FlashStore::save_bits() const {
    // Written aside and renamed, so that a reader never sees half a file.
    const std::string name = nvm_name(file_);
    const std::string temporary = name + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        char lock_bits[16];
        std::snprintf(lock_bits, sizeof lock_bits, "0x%08X", bits_.lock_bits);
        out << "lock_bits " << lock_bits << "\n"
            << "gpnvm " << (bits_.gpnvm & 1) << ' ' << (bits_.gpnvm >> 1 & 1) << ' ' << (bits_.gpnvm >> 2 & 1) << "\n"
            << "security " << (bits_.security ? 1 : 0) << "\n";
        if (!out) return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, name, error);
    return !error;
}

void FlashStore::set_bits(const NonVolatileBits& bits) {
    if (bits == bits_) return;
    bits_ = bits;
    // Called from inside target code too, where nothing may be thrown: a
    // failure is told and the device goes on with the bits in memory.
    if (!file_.empty() && !save_bits())
        std::fprintf(stderr, "zelmiran-sim: cannot write %s\n", nvm_name(file_).c_str());
}

void FlashStore::sync() {
    if (!file_.empty()) msync(bytes_, flash_size, MS_SYNC);
}

}  // namespace sim
