// Replays every file of the frame receiver's corpus through the fuzzer's body.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/protocol/frame_receiver_fuzz.h"

namespace tarnlink {
namespace {

TEST(FrameReceiverCorpus, EveryFileReplaysAndTheSeedsCarryGoodFrames) {
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TARNLINK_CORPUS_DIR)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        const size_t before = fuzz::g_goodFrames;
        EXPECT_EQ(fuzz::feedOneInput(bytes.data(), bytes.size()), 0);
        if (entry.path().filename().string().rfind("seed-", 0) == 0) {
            EXPECT_GT(fuzz::g_goodFrames, before) << entry.path();
        }
        ++files;
    }
    EXPECT_GE(files, 5u);
}

}  // namespace
}  // namespace tarnlink
