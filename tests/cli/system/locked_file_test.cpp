#include "cli/system/locked_file.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

std::string contentOf(const std::string& path) {
    const std::vector<uint8_t> bytes = test::readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(AppendFileTest, HeaderOnceThenEachLineWhole) {
    test::TempDir dir;
    const std::string path = dir.file("record.csv");
    std::string error;
    ASSERT_TRUE(appendWithHeader(path, "h1,h2\n", "", &error)) << error;
    EXPECT_EQ(contentOf(path), "h1,h2\n");
    ASSERT_TRUE(appendWithHeader(path, "h1,h2\n", "a,1\n", &error)) << error;
    ASSERT_TRUE(appendWithHeader(path, "h1,h2\n", "b,2\n", &error)) << error;
    EXPECT_EQ(contentOf(path), "h1,h2\na,1\nb,2\n");
}

// Many writers at once, each through its own open of the file as two stations would: one
// header, and every line whole and present.
TEST(AppendFileTest, WritersAtOnceNeverInterleaveNorDoubleTheHeader) {
    test::TempDir dir;
    const std::string path = dir.file("record.csv");
    const std::string header = "when,port,serial\n";
    constexpr int WRITERS = 6;
    constexpr int LINES = 40;
    std::vector<std::thread> writers;
    std::vector<std::string> errors(WRITERS);
    for (int w = 0; w < WRITERS; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < LINES; ++i) {
                // Long lines, so that a write cut in two would show.
                const std::string line = "w" + std::to_string(w) + "-" + std::to_string(i) +
                                         std::string(300, 'x') + "\n";
                if (!appendWithHeader(path, header, line, &errors[w])) {
                    return;
                }
            }
        });
    }
    for (std::thread& t : writers) {
        t.join();
    }
    for (const std::string& error : errors) {
        EXPECT_EQ(error, "");
    }
    std::istringstream in(contentOf(path));
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line + "\n", header);
    std::set<std::string> seen;
    const std::regex whole("w[0-9]+-[0-9]+x{300}");
    while (std::getline(in, line)) {
        EXPECT_TRUE(std::regex_match(line, whole)) << line.substr(0, 60);
        EXPECT_TRUE(seen.insert(line).second) << "twice: " << line.substr(0, 60);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(WRITERS * LINES));
}

TEST(AppendFileTest, AFileThatCannotBeMadeSaysWhy) {
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(appendWithHeader(dir.file("no-such-folder/record.csv"), "h\n", "l\n", &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(appendWithHeader(dir.path(), "h\n", "l\n", &error));
    EXPECT_EQ(error, "Is a directory");
}

}  // namespace
}  // namespace tarnlink
