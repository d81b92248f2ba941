#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/system/locked_file.h"
#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

// The system's own words for a record that cannot be written, as Linux says them (Windows
// has its own for a missing folder: tests/cli/system/locked_file_test.cpp checks what both share).
TEST(AppendFilePosixTest, AFileThatCannotBeWrittenSaysWhy) {
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(appendWithHeader(dir.file("no-such-dir/record.csv"), "h\n", "l\n", &error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_FALSE(appendWithHeader(dir.path(), "h\n", "l\n", &error));
    EXPECT_EQ(error, "Is a directory");
    // An empty text on a new file leaves just the header; later lines follow it.
    const std::string path = dir.file("r.csv");
    EXPECT_TRUE(appendWithHeader(path, "h\n", "", &error));
    EXPECT_TRUE(appendWithHeader(path, "h\n", "l\n", &error));
    EXPECT_EQ(test::readFile(path), (std::vector<uint8_t>{'h', '\n', 'l', '\n'}));
}

}  // namespace
}  // namespace tarnlink
