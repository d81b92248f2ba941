#include "cli/serial/serial_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/process/child_process.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

using test::TempDir;

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string readText(const std::string& path) {
    const std::vector<uint8_t> bytes = test::readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

SerialSource counter(const std::string& path, const char* format, uint64_t step = 1) {
    SerialSource source;
    source.path = path;
    std::string error;
    source.format = *parseSerialFormat(format, &error);
    source.step = step;
    return source;
}

SerialSource list(const std::string& path) {
    SerialSource source;
    source.kind = SerialSource::LIST;
    source.path = path;
    return source;
}

// The texts of `count` values taken in turn; stops at the first refusal, whose reason
// goes into `*error`.
std::vector<std::string> take(const SerialSource& source, int count, std::string* error) {
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) {
        const std::optional<SerialValue> value = takeSerialValue(source, error);
        if (!value) {
            break;
        }
        texts.push_back(value->text);
    }
    return texts;
}

TEST(SerialCounterTest, StartCreatesItOnceAndALineIsNotRestartedByAccident) {
    TempDir dir;
    SerialSource source = counter(dir.file("next.txt"), "u32le");
    EXPECT_EQ(prepareSerialSource(source),
              "the counter " + source.path + " does not exist (--serial-start N creates it)");
    source.start = 1000;
    EXPECT_EQ(prepareSerialSource(source), "");
    EXPECT_EQ(readText(source.path), "1000\n");
    std::string error;
    EXPECT_EQ(take(source, 2, &error), (std::vector<std::string>{"1000", "1001"}));
    EXPECT_EQ(prepareSerialSource(source),
              "the counter " + source.path +
                  " holds 1002, not the --serial-start 1000 (leave --serial-start out to go on "
                  "from it)");
    source.start.reset();
    EXPECT_EQ(prepareSerialSource(source), "");
    EXPECT_EQ(take(source, 1, &error), (std::vector<std::string>{"1002"}));
    dir.write("next.txt", bytesOf("12a\n"));
    EXPECT_EQ(prepareSerialSource(source), "the counter " + source.path + " does not hold a number");
}

// A value that does not fit is refused and nothing is taken: the counter stays where it
// was, and a dry run shows the same values as the boards then get.
TEST(SerialCounterTest, StepsUpToTheLargestValueOfTheFormatAndTakesNothingPastIt) {
    TempDir dir;
    const SerialSource source = counter(dir.write("next.txt", bytesOf("65530\n")), "u16be", 3);
    const std::vector<SerialPeek> peeks = peekSerialValues(source, 5);
    ASSERT_EQ(peeks.size(), 3u);
    EXPECT_EQ(peeks[1].value->bytes, (std::vector<uint8_t>{0xFF, 0xFD}));
    EXPECT_EQ(peeks[2].error, "65536 does not fit u16be (largest 65535)");
    EXPECT_EQ(readText(source.path), "65530\n") << "a dry run takes nothing";
    std::string error;
    EXPECT_EQ(take(source, 5, &error), (std::vector<std::string>{"65530", "65533"}));
    EXPECT_EQ(error, "65536 does not fit u16be (largest 65535)");
    EXPECT_EQ(readText(source.path), "65536\n");
}

TEST(SerialListTest, EachBoardTakesTheNextUnusedLineAndARestartGoesOn) {
    TempDir dir;
    const SerialSource source = list(dir.write(
        "macs.txt", bytesOf("# line 1\n00:1B:63:84:45:E6\n\n001b638445e7\r\n00:1B:63:84:45:E8\n"
                                  "00:1B:63:84:45\n")));
    std::string error;
    EXPECT_EQ(take(source, 1, &error), (std::vector<std::string>{"00:1B:63:84:45:E6"}));
    EXPECT_EQ(readText(usedMarksPath(source.path)), "2\n");
    // A mark cut short by a process killed in the middle of its write: that value was
    // never handed out.
    dir.write("macs.txt.used", bytesOf("2\n4"));
    EXPECT_EQ(take(source, 5, &error),
              (std::vector<std::string>{"00:1B:63:84:45:E7", "00:1B:63:84:45:E8"}));
    EXPECT_EQ(error, source.path + " line 6: 5 bytes, but the list's values have 6");
    EXPECT_EQ(readText(usedMarksPath(source.path)), "2\n4\n5\n");
    dir.write("macs.txt.used", bytesOf("2\n4\n5\n6\n"));
    EXPECT_FALSE(takeSerialValue(source, &error));
    EXPECT_EQ(error, "the list " + source.path + " is used up (4 values)");
}

// Takers in processes of their own, all at once, as the boards of two stations are: every
// value goes to one of them only, and none is skipped.
TEST(SerialLockTest, TakersInSeveralProcessesNeverGetTheSameValue) {
    TempDir dir;
    const std::string self = currentExecutablePath();
    const std::string taker = self.substr(0, self.find_last_of("\\/") + 1) + "tarnlink_serial_taker" +
                              (self.ends_with(".exe") ? ".exe" : "");
    std::string listText;
    for (int i = 0; i < 60; ++i) {
        listText += std::string("AA:") + "0123456789ABCDEF"[i / 16] + "0123456789ABCDEF"[i % 16] + "\n";
    }
    const std::string counterPath = dir.write("next.txt", bytesOf("1\n"));
    const std::string listPath = dir.write("keys.txt", bytesOf(listText));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"counter", counterPath, "ascii:4", "100"},
          std::vector<std::string>{"list", listPath, "20"}}) {
        std::vector<std::unique_ptr<ChildProcess>> children;
        std::vector<std::string> outputs(3);
        std::vector<std::thread> readers;
        for (int i = 0; i < 3; ++i) {
            std::vector<std::string> argv{taker};
            argv.insert(argv.end(), args.begin(), args.end());
            std::string error;
            children.push_back(ChildProcess::start(argv, &error));
            ASSERT_TRUE(children.back()) << error;
        }
        for (const auto& child : children) {
            EXPECT_TRUE(child->writeInput("go\n"));
        }
        for (int i = 0; i < 3; ++i) {
            readers.emplace_back([&, i] {
                char buffer[256];
                for (size_t n; (n = children[i]->readOutput(buffer, sizeof buffer)) > 0;) {
                    outputs[i].append(buffer, n);
                }
            });
        }
        std::multiset<std::string> values;
        for (int i = 0; i < 3; ++i) {
            readers[i].join();
            EXPECT_EQ(children[i]->wait().code, 0) << args[0];
            for (std::string line : test::lines(outputs[i])) {
                values.insert(line.substr(0, line.find('\r')));  // Windows' text mode
            }
        }
        ASSERT_EQ(values.size(), 3u * std::stoul(args.back())) << args[0];
        EXPECT_EQ(std::set<std::string>(values.begin(), values.end()).size(), values.size())
            << args[0] << ": a value was given twice";
        if (args[0] == "counter") {
            EXPECT_EQ(*values.begin(), "0001");
            EXPECT_EQ(*values.rbegin(), "0300");
            EXPECT_EQ(readText(counterPath), "301\n");
        } else {
            EXPECT_EQ(test::lines(readText(usedMarksPath(listPath))).size(), 60u);
        }
    }
}

}  // namespace
}  // namespace tarnlink
