#include "image_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

// A FIFO nobody writes to would block a plain open or read for ever.
TEST(ImageFile, RefusesFifoWithoutWaiting) {
    auto fifo = std::filesystem::temp_directory_path() / ("image-fifo-" + std::to_string(::getpid()) + ".hex");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ImageFile image;
    ImageError error;
    EXPECT_FALSE(load_image(fifo.string(), image, error));
    EXPECT_EQ(error.fault, ImageFault::not_regular_file);
    std::filesystem::remove(fifo);
}

}  // namespace
