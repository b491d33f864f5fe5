// The embedded image itself: its fixed points, and that the sources build it.
#include "applet_device.h"

#include "flash/applet_image.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace {

Bytes embedded() { return Bytes(applet_image, applet_image + applet_image_size); }

TEST(Image, StartsWithAnArmBranchPastTheMailbox) {
    ASSERT_GE(applet_image_size, 136u);
    const Bytes image = embedded();
    const std::uint32_t entry = image[0] | image[1] << 8 | image[2] << 16 | static_cast<std::uint32_t>(image[3]) << 24;
    EXPECT_EQ(entry >> 24, 0xEAu) << "B, always, without link";
    const auto words = static_cast<std::int32_t>(entry << 8) >> 8;
    const std::int64_t target = 8 + 4 * static_cast<std::int64_t>(words);
    EXPECT_GE(target, 4 + 128);
    EXPECT_LT(target, static_cast<std::int64_t>(applet_image_size));
}

TEST(Image, StoredMailboxIsZero) {
    const Bytes image = embedded();
    EXPECT_EQ(Bytes(image.begin() + 4, image.begin() + 132), Bytes(128, 0));
}

TEST(Image, MailboxAddressIsFourBytesIn) { EXPECT_EQ(applet_mailbox_address, applet_load_address + 4); }

#ifdef ZELMIRAN_APPLET_REBUILT
Bytes file_bytes(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

std::string first_line(const char* path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}
#endif

TEST(Image, SourcesBuildTheEmbeddedBytes) {
#ifndef ZELMIRAN_APPLET_REBUILT
    GTEST_SKIP() << "no arm-none-eabi toolchain in this build: the image was not rebuilt";
#else
    const std::string committed = first_line(ZELMIRAN_APPLET_TOOLCHAIN);
    const std::string present = first_line(ZELMIRAN_APPLET_REBUILT_TOOLCHAIN);
    ASSERT_FALSE(committed.empty()) << ZELMIRAN_APPLET_TOOLCHAIN;
    if (committed != present)
        GTEST_SKIP() << "the committed image comes from \"" << committed << "\", this build has \"" << present << "\"";
    EXPECT_EQ(file_bytes(ZELMIRAN_APPLET_REBUILT), embedded())
        << "the committed applet.bin is not what the sources build: build the refresh-applet target";
#endif
}

}  // namespace
