// Opening a file by its UTF-8 name: a name outside every ANSI code page lands under exactly
// that name and opens again for reading. The name on disk is read back through the
// standard library's own path conversion, not through ours.

#include "platform/utf8_file.h"
#include "platform/utf8_path.h"

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

// The system's own form of the name: UTF-16 on Windows, the UTF-8 bytes on Linux.
[[maybe_unused]] bool nativeNameIs(const std::wstring& native, const std::string&) {
    return native == std::wstring(NON_ANSI_NAME_WIDE) + L".bin";
}
[[maybe_unused]] bool nativeNameIs(const std::string& native, const std::string& utf8) {
    return native == utf8;
}

// A std::filesystem path made from a UTF-8 name names that file (from a plain std::string it
// would be read in the ANSI code page on Windows), and gives the same UTF-8 back.
TEST(Utf8Path, NamesTheFileItsUtf8NameNames) {
    TempDir dir;
    const std::string name = std::string(NON_ANSI_NAME) + ".bin";
    const std::string path = dir.path() + "/" + name;
    std::FILE* out = openUtf8File(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fclose(out);

    const fs::path made = pathFromUtf8(path);
    EXPECT_TRUE(fs::is_regular_file(made));
    EXPECT_TRUE(nativeNameIs(made.filename().native(), name));
    EXPECT_EQ(utf8FromPath(made), path);
    EXPECT_EQ(utf8FromPath(made.filename()), name);
    EXPECT_EQ(utf8FromPath(namesIn(dir.path()).at(0)), name);
}

}  // namespace
}  // namespace tarnlink::test
