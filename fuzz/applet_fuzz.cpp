// The flash applet on the emulator, started on arbitrary mailbox contents.
//
// Input, missing bytes read as zero:
//   byte 0: bit 0 INIT first (as the updater does; otherwise the command is
//           the first start after the upload), bit 1 INIT's link type,
//           bits 2-4 the GPNVM bits, bit 5 the security bit, bit 6 the
//           locked regions cannot be unlocked
//   bytes 1-4: the locked regions (bit r: region r)
//   byte 5: low four bits, a flash-controller command code whose
//           occurrence 1 + (high four bits) the controller refuses; 0 none
//   bytes 6-25: the mailbox's command, status and three arguments
//   the rest: data at the applet buffer, up to 1 KiB
//
// The applet returns within the device's instruction budget, completes the
// command (word 0 becomes its complement), answers with one of the command's
// documented statuses (an unknown command leaves the mailbox as it was), and
// for an argument it refuses (status 1) leaves flash, lock, GPNVM and
// security bits alone and gives the controllers no command.
#include "applet/mailbox.h"
#include "flash/applet_image.h"
#include "sim/device.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <vector>

namespace {

constexpr std::uint32_t mailbox_size = 128;
constexpr std::uint32_t applet_buffer = 0x00202AF4;
constexpr std::uint32_t fcr_efc0 = 0xFFFFFF64;
constexpr std::uint32_t fcr_key = 0x5A000000;
constexpr std::uint8_t sgpb = 0x0B;
constexpr std::uint8_t ssb = 0x0F;

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    std::uint8_t byte() { return at < size ? data[at++] : 0; }
    std::uint32_t word() {
        std::uint32_t value = 0;
        for (int shift = 0; shift < 32; shift += 8) value |= static_cast<std::uint32_t>(byte()) << shift;
        return value;
    }
};

// The image under test: the one built from source in this build folder when
// there is one, otherwise the committed image the updater embeds.
std::vector<std::uint8_t> applet;

[[noreturn]] void fail(const char* what, std::uint32_t command, std::uint32_t detail) {
    std::fprintf(stderr, "applet fuzz: %s (command %u, 0x%X)\n", what, static_cast<unsigned>(command),
                 static_cast<unsigned>(detail));
    std::abort();
}

std::array<std::uint8_t, mailbox_size> read_mailbox(sim::Device& device) {
    std::array<std::uint8_t, mailbox_size> mailbox{};
    device.read_memory(MAILBOX_ADDRESS, mailbox.data(), mailbox.size());
    return mailbox;
}

std::uint32_t word_at(const std::array<std::uint8_t, mailbox_size>& mailbox, std::size_t offset) {
    return static_cast<std::uint32_t>(mailbox[offset]) | static_cast<std::uint32_t>(mailbox[offset + 1]) << 8 |
           static_cast<std::uint32_t>(mailbox[offset + 2]) << 16 | static_cast<std::uint32_t>(mailbox[offset + 3]) << 24;
}

// The statuses each command may answer with.
bool documented(std::uint32_t command, std::uint32_t status) {
    auto one_of = [status](std::initializer_list<std::uint32_t> allowed) {
        return std::find(allowed.begin(), allowed.end(), status) != allowed.end();
    };
    switch (command) {
    case 0: return one_of({0});
    case 1: return one_of({0, 4, 6});
    case 2: return one_of({0, 1, 2, 4});
    case 3: return one_of({0, 1});
    case 4: return one_of({0, 1, 4});
    case 5: return one_of({0, 1, 5});
    case 6: return one_of({0, 1, 15});
    case 7: return one_of({0, 1, 15});  // 1: no key
    case 8: return one_of({0, 1});
    default: return false;
    }
}

// Flash, lock, GPNVM and security bits, kept in one buffer for every run:
// a fresh 512 KiB allocation per run would cost more than the run.
class NonVolatile {
public:
    void keep(const sim::Device& device) {
        std::copy_n(device.flash(), flash_.size(), flash_.begin());
        bits_ = bits(device);
    }
    bool unchanged(const sim::Device& device) const {
        return bits(device) == bits_ && std::equal(flash_.begin(), flash_.end(), device.flash());
    }

private:
    static std::array<std::uint32_t, 3> bits(const sim::Device& device) {
        return {device.lock_bits(), device.gpnvm_bits(), device.security_bit()};
    }

    std::vector<std::uint8_t> flash_ = std::vector<std::uint8_t>(0x80000);
    std::array<std::uint32_t, 3> bits_{};
};

NonVolatile kept;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    applet.assign(applet_image().begin(), applet_image().end());
#ifdef ZELMIRAN_APPLET_REBUILT
    std::ifstream rebuilt(ZELMIRAN_APPLET_REBUILT, std::ios::binary);
    if (rebuilt) applet.assign(std::istreambuf_iterator<char>(rebuilt), std::istreambuf_iterator<char>());
#endif
    std::fprintf(stderr, "applet fuzz: %zu-byte image\n", applet.size());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input{data, size};
    const std::uint8_t setup = input.byte();
    sim::DeviceOptions options;
    options.locked_regions = input.word();
    if (setup & 0x40) options.stuck_locks = options.locked_regions;
    if (const std::uint8_t failing = input.byte(); failing & 0x0F)
        options.failing_command = sim::FailingCommand{static_cast<std::uint8_t>(failing & 0x0F), 1u + (failing >> 4)};
    sim::Device device(options);

    for (std::uint32_t bit = 0; bit < 3; ++bit)
        if (setup >> (2 + bit) & 1) device.write_word(fcr_efc0, fcr_key | bit << 8 | sgpb);
    if (setup & 0x20) device.write_word(fcr_efc0, fcr_key | ssb);

    device.write_memory(APPLET_LOAD_ADDRESS, applet.data(), applet.size());
    if (setup & 0x01) {
        device.write_word(MAILBOX_ADDRESS + 8, setup >> 1 & 1);
        if (!device.run(APPLET_LOAD_ADDRESS).returned) fail("INIT did not return", 0, 0);
    }

    std::uint8_t words[20];
    for (std::uint8_t& byte : words) byte = input.byte();
    device.write_memory(MAILBOX_ADDRESS, words, sizeof words);
    const std::size_t data_size = std::min<std::size_t>(size - std::min(size, input.at), 1024);
    if (data_size > 0) device.write_memory(applet_buffer, data + input.at, data_size);

    const auto before = read_mailbox(device);
    const std::uint32_t command = word_at(before, 0);
    kept.keep(device);
    device.clear_controller_log();

    const sim::RunResult result = device.run(APPLET_LOAD_ADDRESS);
    if (!result.returned) fail("no return", command, static_cast<std::uint32_t>(result.instructions));

    auto after = read_mailbox(device);
    if (word_at(after, 0) != ~command) fail("word 0 is not the command's complement", command, word_at(after, 0));
    const std::uint32_t status = word_at(after, 4);
    if (command > 8) {
        std::copy_n(before.begin(), 4, after.begin());
        if (after != before) fail("an unknown command changed the mailbox", command, status);
        if (!device.controller_log().empty() || !kept.unchanged(device))
            fail("an unknown command changed the flash", command, 0);
        return 0;
    }
    if (!documented(command, status)) fail("an undocumented status", command, status);
    if (status == 1) {
        if (!device.controller_log().empty()) fail("a refused argument reached the controllers", command, 0);
        if (!kept.unchanged(device)) fail("a refused argument changed the flash", command, 0);
    }
    return 0;
}
