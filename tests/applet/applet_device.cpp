#include "applet_device.h"

#include "applet/mailbox.h"
#include "flash/applet_image.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>

namespace {

[[maybe_unused]] std::string first_line(const char* path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

const Bytes& image_under_test() {
    static const Bytes image = [] {
        RebuiltImage rebuilt = rebuilt_image();
        if (rebuilt.usable) return rebuilt.bytes;
        return Bytes(applet_image().begin(), applet_image().end());
    }();
    return image;
}

}  // namespace

RebuiltImage rebuilt_image() {
    RebuiltImage rebuilt;
#ifndef ZELMIRAN_APPLET_REBUILT
    rebuilt.why_not = "no arm-none-eabi toolchain in this build: the image was not rebuilt";
#else
    const std::string committed = first_line(ZELMIRAN_APPLET_TOOLCHAIN);
    const std::string present = first_line(ZELMIRAN_APPLET_REBUILT_TOOLCHAIN);
    if (committed.empty()) {
        rebuilt.why_not = std::string("no toolchain line in ") + ZELMIRAN_APPLET_TOOLCHAIN;
    } else if (committed != present) {
        rebuilt.why_not = "the committed image comes from \"" + committed + "\", this build has \"" + present + "\"";
    } else {
        std::ifstream file(ZELMIRAN_APPLET_REBUILT, std::ios::binary);
        rebuilt.bytes = Bytes(std::istreambuf_iterator<char>(file), {});
        rebuilt.usable = !rebuilt.bytes.empty();
        if (!rebuilt.usable) rebuilt.why_not = std::string("no image at ") + ZELMIRAN_APPLET_REBUILT;
    }
#endif
    return rebuilt;
}

std::uint32_t Mailbox::word(std::size_t offset) const {
    return static_cast<std::uint32_t>(bytes.at(offset)) | static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8 |
           static_cast<std::uint32_t>(bytes.at(offset + 2)) << 16 | static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24;
}

std::uint16_t Mailbox::half(std::size_t offset) const {
    return static_cast<std::uint16_t>(bytes.at(offset) | bytes.at(offset + 1) << 8);
}

std::ostream& operator<<(std::ostream& out, const Issued& issued) {
    return out << "{EFC" << issued.controller << " code 0x" << std::hex << int{issued.code} << std::dec
               << " argument " << issued.argument << "}";
}

sim::DeviceOptions device_options(std::uint32_t locked_regions, const std::string& flash_file) {
    sim::DeviceOptions options;
    options.flash_file = flash_file;
    options.locked_regions = locked_regions;
    return options;
}

AppletDevice::AppletDevice(const sim::DeviceOptions& options) : device_(options) {}

void AppletDevice::upload() {
    device_.write_memory(APPLET_LOAD_ADDRESS, image_under_test().data(), image_under_test().size());
}

Mailbox AppletDevice::start() {
    const sim::RunResult result = device_.run(APPLET_LOAD_ADDRESS);
    EXPECT_TRUE(result.returned) << result.reason;
    return mailbox();
}

Mailbox AppletDevice::run(std::uint32_t code, const std::vector<std::uint32_t>& arguments) {
    write_mailbox(0x00, little_endian({code}));
    write_mailbox(0x08, little_endian(arguments));
    return start();
}

void AppletDevice::prepare(std::uint32_t link_type) {
    upload();
    const Mailbox reply = run(command::init, {link_type});
    EXPECT_EQ(reply.status(), 0u);
    buffer_ = {reply.word(0x0C), reply.word(0x10)};
    device_.clear_controller_log();
}

Mailbox AppletDevice::mailbox() {
    Mailbox mailbox;
    device_.read_memory(MAILBOX_ADDRESS, mailbox.bytes.data(), mailbox.bytes.size());
    return mailbox;
}

void AppletDevice::write_mailbox(std::size_t offset, const Bytes& bytes) {
    ASSERT_LE(offset + bytes.size(), Mailbox{}.bytes.size());
    put(MAILBOX_ADDRESS + static_cast<std::uint32_t>(offset), bytes);
}

void AppletDevice::put(std::uint32_t address, const Bytes& bytes) {
    if (!bytes.empty()) device_.write_memory(address, bytes.data(), bytes.size());
}

Bytes AppletDevice::sram(std::uint32_t address, std::size_t count) {
    Bytes bytes(count);
    device_.read_memory(address, bytes.data(), count);
    return bytes;
}

Bytes AppletDevice::flash(std::uint32_t offset, std::size_t count) const {
    const std::uint8_t* start = device_.flash() + offset;
    return Bytes(start, start + count);
}

std::vector<Issued> AppletDevice::issued() {
    std::vector<Issued> commands;
    for (const sim::ControllerCommand& command : device_.controller_log()) {
        EXPECT_TRUE(command.key_ok) << "command 0x" << std::hex << int{command.code} << " without the key";
        commands.push_back({command.controller, command.code, command.argument});
    }
    device_.clear_controller_log();
    return commands;
}

void AppletDevice::direct_command(int controller, std::uint8_t code, std::uint32_t argument) {
    constexpr std::uint32_t mc_fcr0 = 0xFFFFFF64;
    constexpr std::uint32_t key = 0x5A000000;
    device_.write_word(mc_fcr0 + 0x10 * static_cast<std::uint32_t>(controller), key | argument << 8 | code);
}

Bytes little_endian(const std::vector<std::uint32_t>& words) {
    Bytes bytes;
    for (std::uint32_t word : words)
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    return bytes;
}

Bytes random_bytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(generator());
    return bytes;
}

FilledFlash::FilledFlash() : contents_(random_bytes(flash_size, 7)) {
    std::ofstream(file(), std::ios::binary).write(reinterpret_cast<const char*>(contents_.data()),
                                                  static_cast<std::streamsize>(contents_.size()));
}

Bytes FilledFlash::with(std::uint32_t offset, const Bytes& bytes) const {
    Bytes result = contents_;
    std::copy(bytes.begin(), bytes.end(), result.begin() + offset);
    return result;
}
