#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "cli/process/child_process.h"
#include "tests/cli/process/child_output.h"
#include "tests/support/unicode_names.h"

namespace tarnlink {
namespace {

using test::readAll;

std::string helperPath() {
    const std::string self = currentExecutablePath();
    return self.substr(0, self.find_last_of("\\/") + 1) + "tarnlink_child_helper.exe";
}

std::unique_ptr<ChildProcess> helper(const std::vector<std::string>& args) {
    std::vector<std::string> argv{helperPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string error;
    auto child = ChildProcess::start(argv, &error);
    EXPECT_TRUE(child) << error;
    return child;
}

std::string hex(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

TEST(ChildProcessWin32Test, CurrentExecutableIsThisTest) {
    const std::string self = currentExecutablePath();
    const std::string name = "cli_process_test.exe";
    ASSERT_GT(self.size(), name.size());
    EXPECT_EQ(self.substr(self.size() - name.size()), name) << self;
    EXPECT_NE(GetFileAttributesA(self.c_str()), INVALID_FILE_ATTRIBUTES) << self;
}

// Every argument comes back byte for byte from the child's own C runtime, however awkward.
TEST(ChildProcessWin32Test, ArgumentsArriveAsGiven) {
    const std::vector<std::string> awkward{"plain",
                                           "",
                                           "a b",
                                           "say \"hi\"",
                                           "a\\\"b",
                                           "C:\\my dir\\",
                                           "x y\\\\",
                                           "\\\\srv\\share",
                                           "tab\there",
                                           "\"",
                                           "\\",
                                           "end\\\\\"",
                                           "*?%PATH%",
                                           "^&|<>",
                                           "  lead and trail  "};
    std::vector<std::string> args{"args"};
    args.insert(args.end(), awkward.begin(), awkward.end());
    auto child = helper(args);
    ASSERT_TRUE(child);
    const std::string out = readAll(*child, false);
    std::string expected;
    for (const std::string& arg : awkward) {
        expected += hex(arg) + "\r\n";  // the helper's stdout is in text mode
    }
    EXPECT_EQ(out, expected);
    EXPECT_EQ(child->wait().code, 0);
}

// Names in any script, as tarnlink-cli reads its arguments: a path outside the ANSI code
// page, a character outside the 16-bit plane (two UTF-16 units), among blanks and quotes.
TEST(ChildProcessWin32Test, ArgumentsInAnyScriptArriveAsGiven) {
    const std::string name = test::NON_ANSI_NAME;
    const std::vector<std::string> unicode{name,
                                           "C:\\" + name + "\\image.bin",
                                           "C:\\my " + name + "\\",
                                           "\xF0\x9D\x84\x9E clef \"" + name + "\"",
                                           "\xCE\xB1\\\"\xCE\xB2",
                                           ""};
    std::vector<std::string> args{"utf8args"};
    args.insert(args.end(), unicode.begin(), unicode.end());
    auto child = helper(args);
    ASSERT_TRUE(child);
    std::string expected;
    for (const std::string& arg : unicode) {
        expected += hex(arg) + "\r\n";
    }
    EXPECT_EQ(readAll(*child, false), expected);
    EXPECT_EQ(child->wait().code, 0);
}

TEST(ChildProcessWin32Test, OutputErrorsAndExitStatusArriveApart) {
    auto child = helper({"talk"});
    ASSERT_TRUE(child);
    EXPECT_EQ(readAll(*child, false), "out\r\n");
    EXPECT_EQ(readAll(*child, true), "err\r\n");
    const ChildExit exit = child->wait();
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.code, 3);
    EXPECT_EQ(exit.describe(), "exit status 3");
}

TEST(ChildProcessWin32Test, ExitStatusesComeThrough) {
    for (const int code : {0, 1, 10, 64, 255, 1000}) {
        auto child = helper({"exit", std::to_string(code)});
        ASSERT_TRUE(child);
        const ChildExit exit = child->wait();
        EXPECT_TRUE(exit.exited);
        EXPECT_EQ(exit.code, code);
    }
}

TEST(ChildProcessWin32Test, InputReachesTheChildAndItsEndIsSeen) {
    auto child = helper({"echo"});
    ASSERT_TRUE(child);
    EXPECT_TRUE(child->writeInput("cancel\n"));
    child->closeInput();
    EXPECT_EQ(readAll(*child, false), "cancel\r\n");
    EXPECT_EQ(child->wait().code, 0);
    EXPECT_FALSE(child->writeInput("late\n"));
}

// A second child must not hold the first one's pipes: the first one's input would never
// end, nor its output.
TEST(ChildProcessWin32Test, AnotherChildHoldsNoneOfThePipes) {
    auto first = helper({"echo"});
    auto second = helper({"sleep"});
    ASSERT_TRUE(first && second);
    first->closeInput();
    auto output = std::async(std::launch::async, [&] { return readAll(*first, false); });
    const bool ended = output.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    second->kill();
    if (!ended) {
        first->kill();  // ends the read, so the test can end
    }
    EXPECT_TRUE(ended) << "the first child's pipes stayed open while the second one ran";
    EXPECT_EQ(output.get(), "");
    EXPECT_EQ(first->wait().code, 0);
}

TEST(ChildProcessWin32Test, KillEndsItAndWritingToTheDeadChildFailsQuietly) {
    auto child = helper({"sleep"});
    ASSERT_TRUE(child);
    const auto start = std::chrono::steady_clock::now();
    child->kill();
    const ChildExit exit = child->wait();
    EXPECT_FALSE(exit.exited);
    EXPECT_EQ(exit.describe(), "killed");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(child->writeInput(std::string(100000, 'x')));
    child->kill();  // once more, after the reaping: nothing happens
    EXPECT_EQ(readAll(*child, false), "");
}

TEST(ChildProcessWin32Test, AProgramThatIsNotThereSaysWhy) {
    std::string error;
    EXPECT_FALSE(ChildProcess::start({"C:\\no\\such\\program.exe"}, &error));
    EXPECT_NE(error.find("C:\\no\\such\\program.exe: "), std::string::npos) << error;
    EXPECT_FALSE(ChildProcess::start({}, &error));
}

// The count moves with work: busy until it has grown by a tenth of a second (a loaded
// machine gives this thread less of the wall time, so no wall-time bound but a generous one).
TEST(ChildProcessWin32Test, CpuSecondsGrowWithWork) {
    const double before = ownCpuSeconds();
    volatile unsigned long long sum = 0;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ownCpuSeconds() < before + 0.1 && std::chrono::steady_clock::now() < giveUp) {
        for (int i = 0; i < 100000; ++i) {
            sum = sum + static_cast<unsigned long long>(i);
        }
    }
    EXPECT_GE(ownCpuSeconds(), before + 0.1);
    EXPECT_LT(ownCpuSeconds(), before + 60);
}

}  // namespace
}  // namespace tarnlink
