// Reading an image from regular files at and past the limits, and from names that cannot
// be opened (a missing file, a folder), on every platform.
#include <gtest/gtest.h>

#include <fstream>

#include "image/image_file.h"
#include "platform/utf8_path.h"
#include "tests/image/image_case.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unicode_names.h"

namespace tarnlink::test {
namespace {

class ImageFileTest : public ::testing::Test {
  protected:
    TempDir m_dir;
};

TEST_F(ImageFileTest, RegularFilesFromOneByteToTheLargestImage) {
    const Bytes one = {0x5A};
    LoadedImage image = loadImageFile(m_dir.write("one.bin", one), {});
    ASSERT_TRUE(image.ok()) << image.error;
    EXPECT_EQ(image.flat.bytes, one);
    EXPECT_EQ(image.source, one);

    const Bytes largest = erased(FLAT_IMAGE_MAX_BYTES);
    image = loadImageFile(m_dir.write("largest.bin", largest), {});
    ASSERT_TRUE(image.ok()) << image.error;
    EXPECT_EQ(image.flat.bytes.size(), FLAT_IMAGE_MAX_BYTES);

    const std::string big = m_dir.write("big.bin", erased(FLAT_IMAGE_MAX_BYTES + 1));
    image = loadImageFile(big, {});
    EXPECT_EQ(image.failure, ImageFailure::BAD_CONTENT);
    EXPECT_EQ(image.error, big + ": 262141 bytes; an image holds at most 262,140");

    const std::string empty = m_dir.write("empty.hex", {});
    image = loadImageFile(empty, {});
    EXPECT_EQ(image.failure, ImageFailure::BAD_CONTENT);
    EXPECT_EQ(image.error, empty + ": the file is empty");
}

TEST_F(ImageFileTest, TextFilesLargerThanTheImageAreReadWhole) {
    // 4 data bytes a record make a file 5 times the image it holds.
    std::string text;
    for (uint32_t address = 0; address < 0x10000; address += 4) {
        text += ihexData(static_cast<uint16_t>(address), erased(4));
    }
    text += ihexUpper(0x04, 1) + ihexData(0, {1}) + IHEX_END;
    ASSERT_GT(text.size(), FLAT_IMAGE_MAX_BYTES + 1);
    const LoadedImage image = loadImageFile(m_dir.write("big.hex", bytesOf(text)), {});
    ASSERT_TRUE(image.ok()) << image.error;
    EXPECT_EQ(image.format, ImageFormat::IHEX);
    EXPECT_EQ(image.flat.bytes, join({erased(0x10000), {1}}));
    EXPECT_EQ(image.source.size(), text.size());
}

// A name outside the ANSI code page: a narrow open would look for a '?' in its place.
TEST_F(ImageFileTest, ANameInAnyScriptOpensThatFile) {
    const std::string name = m_dir.file(std::string(NON_ANSI_NAME) + ".hex");
    {
        std::ofstream out(pathFromUtf8(name), std::ios::binary);
        out << ihexData(0x10, {1, 2, 3}) << IHEX_END;
    }
    const LoadedImage image = loadImageFile(name, {});
    ASSERT_TRUE(image.ok()) << image.error;
    EXPECT_EQ(image.format, ImageFormat::IHEX);
    EXPECT_EQ(image.flat.bytes, join({erased(0x10), {1, 2, 3}}));

    const LoadedImage folder = loadImageFile(m_dir.path(), {});
    EXPECT_EQ(folder.failure, ImageFailure::CANNOT_OPEN);
}

TEST_F(ImageFileTest, WhatCannotBeOpenedSaysWhy) {
    LoadedImage image = loadImageFile(m_dir.file("missing.hex"), {});
    EXPECT_EQ(image.failure, ImageFailure::CANNOT_OPEN);
    EXPECT_EQ(image.error, m_dir.file("missing.hex") + ": No such file or directory");

    image = loadImageFile(m_dir.path(), {});
    EXPECT_EQ(image.failure, ImageFailure::CANNOT_OPEN);
    EXPECT_EQ(image.error, m_dir.path() + ": Is a directory");
}

}  // namespace
}  // namespace tarnlink::test
