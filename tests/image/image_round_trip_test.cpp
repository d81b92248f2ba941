// What the host's own tools make of a binary must come back as that binary: objcopy's Intel
// HEX and S-record (at 0 and moved to 0x08000000), and a small program linked as ELF of
// both classes and byte orders, compared with objcopy's flat binary of it. The build makes
// the files (tests/image/make_round_trip_files).
#include <gtest/gtest.h>

#include "image/image_file.h"
#include "tests/image/image_case.h"
#include "tests/support/temp_dir.h"

namespace tarnlink::test {
namespace {

using ::testing::ValuesIn;

std::string dataFile(const std::string& name) {
    return std::string(TARNLINK_ROUND_TRIP_DIR) + "/" + name;
}

struct RoundTrip {
    const char* file;
    std::optional<uint64_t> base;
    const char* binary;  // what the file must come back as
    ImageFormat format;
};

const RoundTrip ROUND_TRIPS[] = {
    {"small.hex", {}, "small.bin", ImageFormat::IHEX},
    {"small.srec", {}, "small.bin", ImageFormat::SREC},
    {"small-s3.srec", {}, "small.bin", ImageFormat::SREC},
    {"small-08000000.hex", 0x08000000, "small.bin", ImageFormat::IHEX},
    {"small-08000000.srec", 0x08000000, "small.bin", ImageFormat::SREC},
    {"full.hex", {}, "full.bin", ImageFormat::IHEX},
    {"full.srec", {}, "full.bin", ImageFormat::SREC},
    {"full-08000000.hex", 0x08000000, "full.bin", ImageFormat::IHEX},
    {"full-08000000.srec", 0x08000000, "full.bin", ImageFormat::SREC},
    {"app32le.elf", 0x08000000, "app32le.bin", ImageFormat::ELF},
    {"app32be.elf", 0x08000000, "app32be.bin", ImageFormat::ELF},
    {"app64le.elf", 0x08000000, "app64le.bin", ImageFormat::ELF},
    {"app64be.elf", 0x08000000, "app64be.bin", ImageFormat::ELF},
};

class ImageRoundTripTest : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(ImageRoundTripTest, GivesBackTheBinary) {
    const RoundTrip& r = GetParam();
    const Bytes binary = readFile(dataFile(r.binary));
    ASSERT_FALSE(binary.empty()) << r.binary;
    const LoadedImage image = loadImageFile(dataFile(r.file), {ImageFormat::AUTO, r.base});
    ASSERT_TRUE(image.ok()) << image.error;
    EXPECT_EQ(image.format, r.format);
    EXPECT_EQ(image.flat.base, r.base.value_or(0));
    EXPECT_EQ(image.flat.bytes, binary);
    EXPECT_EQ(image.source, readFile(dataFile(r.file)));
}

INSTANTIATE_TEST_SUITE_P(Files, ImageRoundTripTest, ValuesIn(ROUND_TRIPS), [](const auto& info) {
    std::string name = info.param.file;
    for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
});

// The ELF's lowest load address is the flash's: without --base the message names it.
TEST(ImageRoundTrip, AProgramLinkedForFlashAt0x08000000AsksForItsBase) {
    for (const char* file : {"app64le.elf", "full-08000000.hex", "small-08000000.srec"}) {
        const LoadedImage image = loadImageFile(dataFile(file), {});
        EXPECT_EQ(image.failure, ImageFailure::BAD_CONTENT);
        EXPECT_EQ(image.error, dataFile(file) +
                                   ": the data starts at 0x08000000, far above 0: give the "
                                   "flash's start with --base 0x08000000");
    }
}

}  // namespace
}  // namespace tarnlink::test
