#include "cli/process/windows_command_line.h"

#include <gtest/gtest.h>

namespace tarnlink {
namespace {

struct QuotingCase {
    const char* name;
    std::vector<std::string> argv;
    const char* line;
};

class WindowsCommandLineTest : public ::testing::TestWithParam<QuotingCase> {};

// What the C runtime's rules give back exactly: a backslash is literal unless quotes follow
// it, 2n backslashes and a quote are n backslashes and the quote's own meaning, 2n+1 and a
// quote are n and a literal quote. (The Windows build also sends each of these through a
// real child process.)
TEST_P(WindowsCommandLineTest, QuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(windowsCommandLine(GetParam().argv), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, WindowsCommandLineTest,
    ::testing::Values(
        QuotingCase{"Plain", {"C:\\p.exe", "load", "fw.bin"}, R"("C:\p.exe" load fw.bin)"},
        QuotingCase{
            "ProgramWithBlank", {"C:\\Program Files\\t.exe"}, R"("C:\Program Files\t.exe")"},
        QuotingCase{"Blank", {"p", "a b"}, R"("p" "a b")"},
        QuotingCase{"Tab", {"p", "a\tb"}, "\"p\" \"a\tb\""},
        QuotingCase{"Empty", {"p", ""}, R"("p" "")"},
        QuotingCase{"BackslashesAloneStay", {"p", R"(C:\dir\f.bin)"}, R"("p" C:\dir\f.bin)"},
        QuotingCase{"Quote", {"p", R"(say "hi")"}, R"("p" "say \"hi\"")"},
        QuotingCase{"BackslashBeforeQuote", {"p", R"(a\"b)"}, R"("p" "a\\\"b")"},
        QuotingCase{"TrailingBackslashInQuotes", {"p", R"(C:\my dir\)"}, R"("p" "C:\my dir\\")"},
        QuotingCase{"TwoTrailingBackslashes", {"p", "x y\\\\"}, R"("p" "x y\\\\")"},
        QuotingCase{"TrailingBackslashPlain", {"p", R"(C:\dir\)"}, R"("p" C:\dir\)"},
        QuotingCase{"LoneQuote", {"p", "\""}, R"("p" "\"")"}),
    [](const ::testing::TestParamInfo<QuotingCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tarnlink
