// tarnlink-cli's arguments as the system's UTF-16 command line gives them, and the command
// line a station builds for its children read back the same way.
#include <windows.h>

#include <gtest/gtest.h>

#include "cli/process/windows_command_line.h"
#include "cli/system/program_arguments.h"
#include "platform/utf16_text.h"
#include "tests/support/unicode_names.h"

namespace tarnlink {
namespace {

struct SplitCase {
    const char* name;
    const wchar_t* line;
    std::vector<std::string> arguments;
};

class ArgumentsOfCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

// The system's rules: blanks split, quotes group, 2n backslashes and a quote are n
// backslashes and a grouping quote, 2n+1 are n and a literal quote; other backslashes stay.
TEST_P(ArgumentsOfCommandLineTest, SplitsAsTheSystemDoesIntoUtf8) {
    EXPECT_EQ(argumentsOfCommandLine(GetParam().line), GetParam().arguments);
}

const std::string NAME = test::NON_ANSI_NAME;
const std::string CLEF = "\xF0\x9D\x84\x9E";  // U+1D11E, two UTF-16 units

INSTANTIATE_TEST_SUITE_P(
    Lines, ArgumentsOfCommandLineTest,
    ::testing::Values(
        SplitCase{"Plain", LR"(p.exe load fw.bin)", {"p.exe", "load", "fw.bin"}},
        SplitCase{
            "QuotedProgram", LR"("C:\Program Files\t.exe" x)", {R"(C:\Program Files\t.exe)", "x"}},
        SplitCase{"Blanks", L"p   a\t b", {"p", "a", "b"}},
        SplitCase{"QuotedBlank", LR"(p "a b" c)", {"p", "a b", "c"}},
        SplitCase{"Empty", LR"(p "")", {"p", ""}},
        SplitCase{"BackslashesStay", LR"(p C:\dir\f.bin)", {"p", R"(C:\dir\f.bin)"}},
        SplitCase{"EscapedQuote", LR"(p a\"b)", {"p", "a\"b"}},
        SplitCase{"DoubledBackslashThenQuote", LR"(p "a\\" b)", {"p", "a\\", "b"}},
        SplitCase{"OddBackslashesThenQuote", LR"(p a\\\"b)", {"p", "a\\\"b"}},
        SplitCase{"PolishAndJapanese",
                  L"p load \"C:\\Users\\\u0141\u00F3d\u017A-\u65E5\u672C\\fw.bin\"",
                  {"p", "load", "C:\\Users\\" + NAME + "\\fw.bin"}},
        SplitCase{"OutsideThe16BitPlane", L"p \U0001D11E\"a b\"", {"p", CLEF + "a b"}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

// What a station gives its child comes back whole: the command line is made in UTF-8,
// turned into UTF-16 once, and split by the child as above.
TEST(ProgramArgumentsWin32Test, ChildCommandLinesComeBackWhole) {
    const std::vector<std::vector<std::string>> cases{
        {"C:\\" + NAME + "\\tarnlink-cli.exe", "load", NAME + ".bin", "--port", "COM3"},
        {"p", "crypt", "C:\\my " + NAME + "\\", "--trace", "a\"b", ""},
        {"p", CLEF, CLEF + " " + CLEF, "\\\\srv\\" + NAME + "\\\\", "x\\\"" + NAME}};
    for (const std::vector<std::string>& argv : cases) {
        const std::optional<std::wstring> line = utf16FromUtf8(windowsCommandLine(argv));
        ASSERT_TRUE(line);
        EXPECT_EQ(argumentsOfCommandLine(*line), argv) << windowsCommandLine(argv);
    }
}

// Run from a path outside the ANSI code page, this test's own argv[0] would hold '?'; the
// wide command line holds the path as it is.
TEST(ProgramArgumentsWin32Test, ThisProgramsArgumentsAreItsWideCommandLine) {
    char program[] = "ignored";
    char* argv[] = {program, nullptr};
    EXPECT_EQ(programArguments(1, argv), argumentsOfCommandLine(GetCommandLineW()));
}

}  // namespace
}  // namespace tarnlink
