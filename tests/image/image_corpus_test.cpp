// Replays every file of the image parsers' corpora through the fuzzers' body.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/image/image_parser_fuzz.h"

namespace tarnlink {
namespace {

struct Corpus {
    const char* folder;
    ImageFormat format;
};

class ImageCorpusTest : public ::testing::TestWithParam<Corpus> {};

TEST_P(ImageCorpusTest, EveryFileReplaysAndTheSeedsGiveAnImage) {
    size_t files = 0;
    const std::filesystem::path folder =
        std::filesystem::path(TARNLINK_CORPUS_ROOT) / GetParam().folder;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        const size_t before = fuzz::g_imagesMade;
        EXPECT_EQ(fuzz::parseOneImage(GetParam().format, bytes.data(), bytes.size()), 0);
        if (entry.path().filename().string().rfind("seed-", 0) == 0) {
            EXPECT_GT(fuzz::g_imagesMade, before) << entry.path();
        }
        ++files;
    }
    EXPECT_GE(files, 3u);
}

INSTANTIATE_TEST_SUITE_P(Parsers, ImageCorpusTest,
                         ::testing::Values(Corpus{"intel_hex", ImageFormat::IHEX},
                                           Corpus{"srecord", ImageFormat::SREC},
                                           Corpus{"elf_image", ImageFormat::ELF}),
                         [](const auto& info) { return std::string(info.param.folder); });

}  // namespace
}  // namespace tarnlink
