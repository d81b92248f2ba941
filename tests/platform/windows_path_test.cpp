// Windows only: the "\\?\" form that lets the file calls take a path past MAX_PATH, and the
// UTF-8 open at the edges that Wine lets through either way (it opens long paths without
// the form too; Windows without long-path support opens only the form).

#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

#include "platform/utf8_file.h"
#include "platform/windows_path.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unicode_names.h"

namespace tarnlink::test {
namespace {

const std::wstring LONG_PART(300, L'a');

std::wstring workingFolder() {
    std::vector<wchar_t> folder(GetCurrentDirectoryW(0, nullptr));
    GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
    return folder.data();
}

struct PathRow {
    const char* name;
    std::wstring path;
    std::wstring expected;
    friend void PrintTo(const PathRow& row, std::ostream* out) { *out << row.name; }
};

class WindowsFilePath : public ::testing::TestWithParam<PathRow> {};

TEST_P(WindowsFilePath, Form) {
    EXPECT_EQ(windowsFilePath(GetParam().path), GetParam().expected);
}

// MAX_PATH (260) counts the closing NUL: 259 units are the longest path without the form.
const std::wstring AT_LIMIT = L"C:\\" + std::wstring(250, L'b') + L"\\x.bin";  // 259
const std::wstring PAST_LIMIT = L"C:\\" + std::wstring(251, L'b') + L"\\x.bin";

INSTANTIATE_TEST_SUITE_P(
    Paths, WindowsFilePath,
    ::testing::Values(
        PathRow{"ShortAbsolute", L"C:\\images\\image.bin", L"C:\\images\\image.bin"},
        PathRow{"ShortRelative", L"image.bin", L"image.bin"},
        PathRow{"ShortWithSlashes", L"C:/images/image.bin", L"C:/images/image.bin"},
        PathRow{"AtTheLimit", AT_LIMIT, AT_LIMIT},
        PathRow{"PastTheLimit", PAST_LIMIT, L"\\\\?\\" + PAST_LIMIT},
        PathRow{"LongWithSlashesAndDots", L"C:/x/../" + LONG_PART + L"/./b.bin",
                L"\\\\?\\C:\\" + LONG_PART + L"\\b.bin"},
        PathRow{"LongUnc", L"\\\\server\\share\\" + LONG_PART,
                L"\\\\?\\UNC\\server\\share\\" + LONG_PART},
        PathRow{"LongRelative", LONG_PART, L"\\\\?\\" + workingFolder() + L"\\" + LONG_PART},
        PathRow{"AlreadyInTheForm", L"\\\\?\\C:\\" + LONG_PART, L"\\\\?\\C:\\" + LONG_PART},
        PathRow{"Device", L"\\\\.\\COM12", L"\\\\.\\COM12"}),
    [](const auto& info) { return std::string(info.param.name); });

std::wstring backslashes(std::string path) {
    std::wstring wide(path.begin(), path.end());  // the temporary folder's name is ASCII
    for (wchar_t& c : wide) {
        c = c == L'/' ? L'\\' : c;
    }
    return wide;
}

// A crypt written past MAX_PATH under a name outside every code page lands there, under
// exactly that name.
TEST(Utf8FileWindows, APathPastMaxPathOpens) {
    TempDir dir;
    std::wstring folder = backslashes(dir.path());
    std::string folderUtf8 = dir.path();
    for (char part : {'p', 'q', 'r'}) {
        folder += L"\\" + std::wstring(100, static_cast<wchar_t>(part));
        folderUtf8 += "/" + std::string(100, part);
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) << GetLastError();
    }
    const std::string path = folderUtf8 + "/" + NON_ANSI_NAME + ".bin";
    ASSERT_GE(path.size(), MAX_PATH);

    std::FILE* out = openUtf8File(path.c_str(), "wb");
    ASSERT_NE(out, nullptr) << "errno " << errno;
    EXPECT_EQ(std::fwrite("crypt", 1, 5, out), 5u);
    ASSERT_EQ(std::fclose(out), 0);

    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((L"\\\\?\\" + folder + L"\\*.bin").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_EQ(std::wstring(found.cFileName), std::wstring(NON_ANSI_NAME_WIDE) + L".bin");
    EXPECT_EQ(found.nFileSizeLow, 5u);
    EXPECT_FALSE(FindNextFileW(search, &found));
    FindClose(search);
    DeleteFileW((L"\\\\?\\" + folder + L"\\" + NON_ANSI_NAME_WIDE + L".bin").c_str());
    for (int i = 0; i < 3; ++i) {
        RemoveDirectoryW((L"\\\\?\\" + folder).c_str());
        folder.resize(folder.rfind(L'\\'));
    }
}

// A name that is not UTF-8 is refused, not opened as some other file (one with U+FFFD or
// a '?' in its name).
TEST(Utf8FileWindows, ANameThatIsNotUtf8IsRefused) {
    TempDir dir;
    const std::string path = dir.path() +
                             "/\xC5\x81\xF3"
                             "d.bin";  // a Latin-1 byte inside
    errno = 0;
    EXPECT_EQ(openUtf8File(path.c_str(), "wb"), nullptr);
    EXPECT_EQ(errno, EILSEQ);
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((backslashes(dir.path()) + L"\\*.bin").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
}

}  // namespace
}  // namespace tarnlink::test
