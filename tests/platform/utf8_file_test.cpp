// Opening a file by its UTF-8 name: a name outside every ANSI code page lands under exactly
// that name and opens again for reading. The name on disk is read back through the
// standard library's own path conversion, not through ours.

#include "platform/utf8_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/unicode_names.h"

namespace tarnlink::test {
namespace {

namespace fs = std::filesystem;

fs::path utf8Path(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::vector<fs::path> namesIn(const std::string& folder) {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(utf8Path(folder))) {
        names.push_back(entry.path().filename());
    }
    return names;
}

TEST(Utf8File, ANameOutsideEveryCodePageIsWrittenAndReadUnderThatName) {
    TempDir dir;
    const std::string name = std::string(NON_ANSI_NAME) + ".bin";
    const std::string path = dir.path() + "/" + name;
    const std::vector<uint8_t> bytes{0x00, 0xFF, 0x41, 0x0A, 0x0D};

    std::FILE* out = openUtf8File(path.c_str(), "wb");
    ASSERT_NE(out, nullptr) << "errno " << errno;
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    ASSERT_EQ(std::fclose(out), 0);

    EXPECT_EQ(namesIn(dir.path()), std::vector<fs::path>{utf8Path(name)});

    std::FILE* in = openUtf8File(path.c_str(), "rb");
    ASSERT_NE(in, nullptr) << "errno " << errno;
    std::vector<uint8_t> read(16);
    read.resize(std::fread(read.data(), 1, read.size(), in));
    std::fclose(in);
    EXPECT_EQ(read, bytes);  // binary mode: no line ends changed
}

TEST(Utf8File, AMissingFileSaysSo) {
    TempDir dir;
    const std::string path = dir.path() + "/" + NON_ANSI_NAME + "/image.bin";
    errno = 0;
    EXPECT_EQ(openUtf8File(path.c_str(), "rb"), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(namesIn(dir.path()).empty());
}

}  // namespace
}  // namespace tarnlink::test
