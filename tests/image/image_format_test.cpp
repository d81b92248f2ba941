// Which format a file is read in: the name's extension, an ELF's magic whatever the name,
// and what is given; and the hint a file gets when its name alone chose a text format.
#include "image/image_format.h"

#include <gtest/gtest.h>

#include "tests/image/image_case.h"

namespace tarnlink::test {
namespace {

using ::testing::ValuesIn;

const Bytes ELF_HEAD = {0x7F, 'E', 'L', 'F', 1, 1};
const Bytes HEX_HEAD = bytesOf(":10000000");

struct ChoiceCase {
    const char* name;
    ImageFormat requested;
    const char* path;
    Bytes head;
    ImageFormat format;
    bool byName;
};

const ChoiceCase CHOICES[] = {
    {"HexExtension", ImageFormat::AUTO, "fw.hex", HEX_HEAD, ImageFormat::IHEX, true},
    {"IhxExtension", ImageFormat::AUTO, "fw.ihx", HEX_HEAD, ImageFormat::IHEX, true},
    {"IhexExtension", ImageFormat::AUTO, "fw.ihex", HEX_HEAD, ImageFormat::IHEX, true},
    {"UpperCaseExtension", ImageFormat::AUTO, "FW.HEX", HEX_HEAD, ImageFormat::IHEX, true},
    {"SrecExtension", ImageFormat::AUTO, "fw.srec", {}, ImageFormat::SREC, true},
    {"S19Extension", ImageFormat::AUTO, "fw.s19", {}, ImageFormat::SREC, true},
    {"S28Extension", ImageFormat::AUTO, "fw.s28", {}, ImageFormat::SREC, true},
    {"S37Extension", ImageFormat::AUTO, "fw.s37", {}, ImageFormat::SREC, true},
    {"MotExtension", ImageFormat::AUTO, "fw.mot", {}, ImageFormat::SREC, true},
    {"ElfExtension", ImageFormat::AUTO, "fw.elf", {}, ImageFormat::ELF, true},
    {"AxfExtension", ImageFormat::AUTO, "fw.axf", {}, ImageFormat::ELF, true},
    {"OutExtension", ImageFormat::AUTO, "fw.out", {}, ImageFormat::ELF, true},
    {"ElfMagicWhateverTheName", ImageFormat::AUTO, "fw.bin", ELF_HEAD, ImageFormat::ELF, false},
    {"ElfMagicNamedHex", ImageFormat::AUTO, "fw.hex", ELF_HEAD, ImageFormat::ELF, false},
    {"ElfMagicWithoutName", ImageFormat::AUTO, "-", ELF_HEAD, ImageFormat::ELF, false},
    {"BinNeverTakenForText", ImageFormat::AUTO, "fw.bin", HEX_HEAD, ImageFormat::BIN, false},
    {"NoExtension", ImageFormat::AUTO, "firmware", HEX_HEAD, ImageFormat::BIN, false},
    {"DotInAFolderName", ImageFormat::AUTO, "build.hex/firmware", {}, ImageFormat::BIN, false},
    {"WindowsFolder", ImageFormat::AUTO, "C:\\out.hex\\fw", {}, ImageFormat::BIN, false},
    // The standard input has no name: its first bytes tell text from raw.
    {"StandardInputHex", ImageFormat::AUTO, "-", HEX_HEAD, ImageFormat::IHEX, true},
    {"StandardInputSrec", ImageFormat::AUTO, "-", bytesOf("S00F0000"), ImageFormat::SREC, true},
    {"StandardInputRaw", ImageFormat::AUTO, "-", {0x02, 0x00, 0x30}, ImageFormat::BIN, false},
    {"StandardInputColonNotHex", ImageFormat::AUTO, "-", bytesOf(":x"), ImageFormat::BIN, false},
    {"DevStdinHex", ImageFormat::AUTO, "/dev/stdin", HEX_HEAD, ImageFormat::IHEX, true},
    {"DevFdSrec", ImageFormat::AUTO, "/dev/fd/63", bytesOf("S1"), ImageFormat::SREC, true},
    {"StandardInputGivenBin", ImageFormat::BIN, "-", HEX_HEAD, ImageFormat::BIN, false},
    {"GivenBinOverElfMagic", ImageFormat::BIN, "fw.elf", ELF_HEAD, ImageFormat::BIN, false},
    {"GivenIhexOverName", ImageFormat::IHEX, "fw.bin", {}, ImageFormat::IHEX, false},
    {"GivenSrec", ImageFormat::SREC, "fw.hex", {}, ImageFormat::SREC, false},
    {"GivenElf", ImageFormat::ELF, "fw.hex", HEX_HEAD, ImageFormat::ELF, false},
};

class FormatChoiceTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(FormatChoiceTest, ChoosesByWhatIsGivenThenMagicThenName) {
    const ChoiceCase& c = GetParam();
    const FormatChoice choice =
        chooseImageFormat(c.requested, c.path, c.head.data(), c.head.size());
    EXPECT_EQ(choice.format, c.format);
    EXPECT_EQ(choice.byName, c.byName);
}

INSTANTIATE_TEST_SUITE_P(Names, FormatChoiceTest, ValuesIn(CHOICES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImageFormatNames, EveryFormatHasTheNameTheOptionTakes) {
    for (const char* name : {"auto", "bin", "ihex", "srec", "elf"}) {
        const std::optional<ImageFormat> format = imageFormatFromName(name);
        ASSERT_TRUE(format) << name;
        EXPECT_STREQ(imageFormatName(*format), name);
    }
    EXPECT_FALSE(imageFormatFromName("hex"));
    EXPECT_FALSE(imageFormatFromName("BIN"));
    EXPECT_FALSE(imageFormatFromName(""));
}

TEST(ImageConversion, ARawBinaryNamedHexIsRefusedWithTheWayToFlashItRaw) {
    const Bytes raw = {0x02, 0x00, 0x30, 0x75, 0x81, 0x07};
    const LoadedImage named = convertImage("firmware.hex", raw, {});
    EXPECT_EQ(named.failure, ImageFailure::BAD_CONTENT);
    EXPECT_EQ(named.error,
              "firmware.hex: line 1: a record starts with ':', this line with the byte 0x02 (to "
              "flash the file as it is, give --format bin)");
    EXPECT_EQ(named.format, ImageFormat::IHEX);

    // Given as Intel HEX, the file is meant to be one: no hint.
    const LoadedImage given = convertImage("firmware.hex", raw, {ImageFormat::IHEX, {}});
    EXPECT_EQ(given.error,
              "firmware.hex: line 1: a record starts with ':', this line with the byte 0x02");

    const LoadedImage rawImage = convertImage("firmware.hex", raw, {ImageFormat::BIN, 0x100});
    ASSERT_TRUE(rawImage.ok());
    EXPECT_EQ(rawImage.flat.bytes, raw);
    EXPECT_EQ(rawImage.flat.base, 0x100u);
    EXPECT_EQ(rawImage.format, ImageFormat::BIN);
}

TEST(ImageConversion, AnAddressErrorInAFileChosenByNameGetsNoHint) {
    const LoadedImage image =
        convertImage("firmware.hex", bytesOf(ihexData(0x10, {1}) + IHEX_END), {{}, 0x20});
    EXPECT_EQ(image.error,
              "firmware.hex: line 1: address 0x00000010 lies below the base 0x00000020");
}

TEST(ImageConversion, ARawBinaryIsTheImageAsItIs) {
    const Bytes text = bytesOf(":00000001FF\n");
    const LoadedImage image = convertImage("firmware.bin", text, {});
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image.format, ImageFormat::BIN);
    EXPECT_EQ(image.flat.bytes, text);
    EXPECT_EQ(image.flat.base, 0u);
}

TEST(ImageConversion, EmptyAndTooLargeAreRefusedInEveryFormat) {
    for (ImageFormat format :
         {ImageFormat::BIN, ImageFormat::IHEX, ImageFormat::SREC, ImageFormat::ELF}) {
        const LoadedImage empty = convertImage("fw", {}, {format, {}});
        EXPECT_EQ(empty.failure, ImageFailure::BAD_CONTENT);
        EXPECT_EQ(empty.error, "fw: the file is empty");
    }
    const LoadedImage largest = convertImage("fw.bin", erased(FLAT_IMAGE_MAX_BYTES), {});
    EXPECT_TRUE(largest.ok());
    const LoadedImage tooLarge = convertImage("fw.bin", erased(FLAT_IMAGE_MAX_BYTES + 1), {});
    EXPECT_EQ(tooLarge.error, "fw.bin: more than 262,140 bytes; an image holds at most 262,140");
    EXPECT_EQ(convertImage("-", {}, {}).error, "standard input: the file is empty");
}

}  // namespace
}  // namespace tarnlink::test
