// The system's texts for its errors reach the JSON and the console as UTF-8, whatever the
// language: a Japanese or Russian system's words are not lost to the ANSI code page.
#include <windows.h>

#include <gtest/gtest.h>

#include "cli/system/system_error_text.h"
#include "platform/utf16_text.h"

namespace tarnlink {
namespace {

struct LanguageCase {
    const char* name;
    LANGID language;
    const wchar_t* text;  ///< ERROR_FILE_NOT_FOUND's text, without its closing period
};

class SystemErrorTextWin32Test : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(SystemErrorTextWin32Test, TheSystemsWordsInUtf8) {
    const std::string text =
        systemErrorTextIn(static_cast<int>(ERROR_FILE_NOT_FOUND), GetParam().language);
    if (text.rfind("error ", 0) == 0) {
        GTEST_SKIP() << "this system has no texts in " << GetParam().name;
    }
    const std::optional<std::wstring> wide = utf16FromUtf8(text);
    ASSERT_TRUE(wide) << "not UTF-8: " << text;
    EXPECT_EQ(*wide, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, SystemErrorTextWin32Test,
    ::testing::Values(
        LanguageCase{"English", MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), L"File not found"},
        LanguageCase{"Japanese", MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT),
                     L"\u30D5\u30A1\u30A4\u30EB\u304C\u898B\u3064\u304B\u308A\u307E\u305B\u3093"
                     L"\u3002"},
        LanguageCase{"Russian", MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT),
                     L"\u0424\u0430\u0439\u043B \u043D\u0435 \u043D\u0430\u0439\u0434\u0435\u043D"},
        LanguageCase{"Turkish", MAKELANGID(LANG_TURKISH, SUBLANG_DEFAULT),
                     L"Dosya bulunamad\u0131"}),
    [](const ::testing::TestParamInfo<LanguageCase>& info) { return info.param.name; });

TEST(SystemErrorTextWin32, AnUnknownNumberIsNamed) {
    EXPECT_EQ(systemErrorText(0x2BADBEEF), "error 732806895");
}

}  // namespace
}  // namespace tarnlink
