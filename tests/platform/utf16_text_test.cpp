// UTF-8 <-> UTF-16 at the edges of the Windows calls: every name Windows hands out comes
// back as the same units (also a lone surrogate), a name that is not UTF-8 is refused, and
// a text to be shown gets U+FFFD where it is not UTF-8.

#include "platform/utf16_text.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/support/unicode_names.h"

namespace tarnlink::test {
namespace {

struct RoundTrip {
    const char* name;
    std::string utf8;
    std::wstring utf16;
    friend void PrintTo(const RoundTrip& row, std::ostream* out) { *out << row.name; }
};

class Utf16RoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(Utf16RoundTrip, BothWays) {
    const RoundTrip& row = GetParam();
    const std::optional<std::wstring> wide = utf16FromUtf8(row.utf8);
    ASSERT_TRUE(wide.has_value());
    EXPECT_EQ(*wide, row.utf16);
    EXPECT_EQ(utf16TextFromUtf8(row.utf8), row.utf16);
    EXPECT_EQ(utf8FromUtf16(row.utf16), row.utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf16RoundTrip,
    ::testing::Values(
        RoundTrip{"Empty", "", L""},
        RoundTrip{"Ascii", "C:\\images\\image.bin", L"C:\\images\\image.bin"},
        RoundTrip{"PolishAndJapanese", NON_ANSI_NAME, NON_ANSI_NAME_WIDE},
        // The first and last code point of each length, and one past the BMP.
        RoundTrip{"TwoBytes", "\xC2\x80\xDF\xBF", L"\u0080\u07FF"},
        RoundTrip{"ThreeBytes", "\xE0\xA0\x80\xEF\xBF\xBF", std::wstring{0x0800, 0xFFFF}},
        RoundTrip{"SurrogatePair", "\xF0\x9F\x98\x80", std::wstring{0xD83D, 0xDE00}},
        RoundTrip{"LastCodePoint", "\xF4\x8F\xBF\xBF", std::wstring{0xDBFF, 0xDFFF}},
        // Windows names may hold lone surrogates; each keeps a 3-byte form of its own.
        RoundTrip{"LoneHighSurrogate",
                  "a\xED\xA0\x80"
                  "b",
                  std::wstring{L'a', 0xD800, L'b'}},
        RoundTrip{"LoneLowSurrogate", "\xED\xBF\xBF", std::wstring{0xDFFF}},
        RoundTrip{"HighSurrogateAtTheEnd", "x\xED\xAF\xBF", std::wstring{L'x', 0xDBFF}},
        RoundTrip{"LowBeforeHigh", "\xED\xB0\x80\xED\xA0\x80", std::wstring{0xDC00, 0xD800}}),
    [](const auto& info) { return std::string(info.param.name); });

struct NotUtf8 {
    const char* name;
    std::string bytes;
    std::wstring shown;  ///< what utf16TextFromUtf8 makes of it
    friend void PrintTo(const NotUtf8& row, std::ostream* out) { *out << row.name; }
};

class Utf16FromNotUtf8 : public ::testing::TestWithParam<NotUtf8> {};

// A name that is not UTF-8 must not open some other file, so the strict form refuses it;
// a text to be shown keeps what it can and marks the rest, without losing the next letter.
TEST_P(Utf16FromNotUtf8, RefusedAsANameAndMarkedAsAText) {
    const NotUtf8& row = GetParam();
    EXPECT_FALSE(utf16FromUtf8(row.bytes).has_value());
    EXPECT_EQ(utf16TextFromUtf8(row.bytes), row.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, Utf16FromNotUtf8,
    ::testing::Values(NotUtf8{"LoneContinuation",
                              "a\x80"
                              "b",
                              L"a\uFFFDb"},
                      NotUtf8{"OverlongSlash", "\xC0\xAF", L"\uFFFD\uFFFD"},
                      NotUtf8{"OverlongThreeBytes", "\xE0\x80\xAF", L"\uFFFD\uFFFD\uFFFD"},
                      NotUtf8{"PastLastCodePoint", "\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
                      NotUtf8{"NoSuchLead",
                              "\xFF"
                              "x",
                              L"\uFFFDx"},
                      NotUtf8{"CutShortAtTheEnd", "a\xE6\x97", L"a\uFFFD"},
                      NotUtf8{"CutShortBeforeALetter", "\xE6\x97x", L"\uFFFDx"},
                      // Latin-1 bytes, as a narrow call in code page 1252 would hand them
                      NotUtf8{"Latin1", "\xF3", L"\uFFFD"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnlink::test
