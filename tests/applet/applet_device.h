// The flash applet on the virtual device, driven as the updater drives it:
// the image sent to its load address, then for every command the mailbox
// written, the applet started, the mailbox read back.
#pragma once

#include "sim/device.h"
#include "support/byte_io.h"
#include "support/run_program.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>


// Mailbox command codes.
namespace command {
inline constexpr std::uint32_t init = 0;
inline constexpr std::uint32_t erase_all = 1;
inline constexpr std::uint32_t write = 2;
inline constexpr std::uint32_t read = 3;
inline constexpr std::uint32_t lock = 4;
inline constexpr std::uint32_t unlock = 5;
inline constexpr std::uint32_t gpnvm = 6;
inline constexpr std::uint32_t security = 7;
inline constexpr std::uint32_t checksum = 8;
}  // namespace command

// Flash controller command codes as MC_FCR takes them.
namespace efc {
inline constexpr std::uint8_t wp = 0x01;
inline constexpr std::uint8_t slb = 0x02;
inline constexpr std::uint8_t clb = 0x04;
inline constexpr std::uint8_t ea = 0x08;
inline constexpr std::uint8_t sgpb = 0x0B;
inline constexpr std::uint8_t cgpb = 0x0D;
inline constexpr std::uint8_t ssb = 0x0F;
}  // namespace efc

inline constexpr std::uint32_t flash_base = 0x00100000;
inline constexpr std::uint32_t flash_size = 0x00080000;
inline constexpr std::uint32_t sram_end = 0x00208000;

struct Mailbox {
    std::array<std::uint8_t, 128> bytes{};
    std::uint32_t word(std::size_t offset) const;
    std::uint16_t half(std::size_t offset) const;
    std::uint32_t status() const { return word(0x04); }
    std::uint32_t result() const { return word(0x08); }
};

// A controller command as the applet issued it, with a valid key.
struct Issued {
    int controller;
    std::uint8_t code;
    std::uint32_t argument;
    bool operator==(const Issued&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Issued& issued);

// The applet buffer as INIT reports it.
struct Buffer {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
};

// The image built from the sources by this build, usable where its ARM
// compiler is the one that made the committed image (another compiler gives
// other bytes).
struct RebuiltImage {
    bool usable = false;
    std::string why_not;
    Bytes bytes;
};
RebuiltImage rebuilt_image();

// A device whose flash comes from `flash_file` (empty: erased) with the lock
// regions in `locked_regions` locked; everything else as by default.
sim::DeviceOptions device_options(std::uint32_t locked_regions, const std::string& flash_file = {});

class AppletDevice {
public:
    explicit AppletDevice(const sim::DeviceOptions& options = {});

    // Sends the image under test: the rebuilt one where it is usable, so
    // that a fault in the sources fails the behaviour tests, else the
    // embedded one. Its stored mailbox makes the next start INIT with link
    // type 0.
    void upload();
    // Starts the applet on what the mailbox holds; a start that does not
    // return fails the test.
    Mailbox start();
    // Puts the command and its arguments into the mailbox, the rest as it
    // was, and starts the applet.
    Mailbox run(std::uint32_t code, const std::vector<std::uint32_t>& arguments = {});
    // Upload, then INIT with `link_type`; the controller log is empty after it.
    void prepare(std::uint32_t link_type = 0);

    Buffer buffer() const { return buffer_; }
    Mailbox mailbox();
    void write_mailbox(std::size_t offset, const Bytes& bytes);
    void put(std::uint32_t address, const Bytes& bytes);
    Bytes sram(std::uint32_t address, std::size_t count);
    Bytes flash(std::uint32_t offset, std::size_t count) const;
    Bytes whole_flash() const { return flash(0, flash_size); }
    // The controller commands since `prepare` or the last call; a command
    // with a wrong key fails the test.
    std::vector<Issued> issued();
    // As the host does it between applet runs: through the registers.
    void direct_command(int controller, std::uint8_t code, std::uint32_t argument);
    sim::Device& device() { return device_; }

private:
    sim::Device device_;
    Buffer buffer_;
};

Bytes little_endian(const std::vector<std::uint32_t>& words);

// Reproducible pseudo-random bytes.
Bytes random_bytes(std::size_t count, unsigned seed);

// A flash file of pseudo-random bytes, so that any byte a command wrongly
// erases, programs or keeps shows.
class FilledFlash {
public:
    FilledFlash();
    std::string file() const { return (folder_.path() / "flash.bin").string(); }
    const Bytes& contents() const { return contents_; }
    // The contents with `bytes` in place at `offset`.
    Bytes with(std::uint32_t offset, const Bytes& bytes) const;

private:
    TempFolder folder_;
    Bytes contents_;
};
