// The embedded image itself: its fixed points, and that the sources build it.
#include "applet_device.h"

#include "flash/applet_image.h"

#include <gtest/gtest.h>

namespace {

Bytes embedded() { return Bytes(applet_image().begin(), applet_image().end()); }

TEST(Image, StartsWithAnArmBranchPastTheMailbox) {
    const Bytes image = embedded();
    ASSERT_GE(image.size(), 136u);
    const std::uint32_t entry = image[0] | image[1] << 8 | image[2] << 16 | static_cast<std::uint32_t>(image[3]) << 24;
    EXPECT_EQ(entry >> 24, 0xEAu) << "B, always, without link";
    const auto words = static_cast<std::int32_t>(entry << 8) >> 8;
    const std::int64_t target = 8 + 4 * static_cast<std::int64_t>(words);
    EXPECT_GE(target, 4 + 128);
    EXPECT_LT(target, static_cast<std::int64_t>(image.size()));
}

TEST(Image, StoredMailboxIsZero) {
    const Bytes image = embedded();
    EXPECT_EQ(Bytes(image.begin() + 4, image.begin() + 132), Bytes(128, 0));
}

TEST(Image, SourcesBuildTheEmbeddedBytes) {
    const RebuiltImage rebuilt = rebuilt_image();
    if (!rebuilt.usable) GTEST_SKIP() << rebuilt.why_not;
    EXPECT_EQ(rebuilt.bytes, embedded())
        << "the committed applet.bin is not what the sources build: build the refresh-applet target";
}

}  // namespace
