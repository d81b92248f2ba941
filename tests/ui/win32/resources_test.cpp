// The resources of tarnlink.exe that no window shows: the system-menu string, the icons,
// the version and the manifest. Reads the program file; needs no display. (The dialog
// templates are checked on the live dialogs, in dialog_test.cpp.)

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui/win32/dialog_driver.h"
#include "ui/dialog_texts.h"
#include "ui/resource_ids.h"

namespace tarnlink::test {
namespace {

const std::string& programPath() {
    static const std::string path = windowsPath(TARNLINK_EXE_PATH);
    return path;
}

class ProgramResources : public ::testing::Test {
  protected:
    void SetUp() override {
        m_module = LoadLibraryExA(programPath().c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(m_module, nullptr) << programPath() << ": error " << GetLastError();
    }
    void TearDown() override {
        if (m_module != nullptr) {
            FreeLibrary(m_module);
        }
    }

    std::string resourceText(int id, int type) const {
        HRSRC found = FindResourceA(m_module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(type));
        if (found == nullptr) {
            return {};
        }
        const auto* bytes = static_cast<const char*>(LockResource(LoadResource(m_module, found)));
        return std::string(bytes, SizeofResource(m_module, found));
    }

    HMODULE m_module = nullptr;
};

TEST_F(ProgramResources, AboutItemString) {
    char text[256] = "";
    EXPECT_GT(LoadStringA(m_module, IDS_ABOUTBOX, text, sizeof text), 0);
    EXPECT_STREQ(text, TEXT_ABOUT_MENU_ITEM);
}

TEST_F(ProgramResources, BothIconsHoldTheSamePictureInEverySize) {
    const std::string about = resourceText(IDR_MAINFRAME, 14 /*RT_GROUP_ICON*/);
    const std::string main = resourceText(IDI_TARNLINK, 14 /*RT_GROUP_ICON*/);
    ASSERT_FALSE(about.empty());
    ASSERT_FALSE(main.empty());
    // GRPICONDIR: reserved, type 1, count, then 14-byte entries (width, height, ...).
    ASSERT_GE(main.size(), 6u);
    const size_t count = static_cast<uint8_t>(main[4]) | static_cast<uint8_t>(main[5]) << 8;
    std::vector<int> widths;
    for (size_t i = 0; i < count && 6 + 14 * i < main.size(); ++i) {
        const int width = static_cast<uint8_t>(main[6 + 14 * i]);
        widths.push_back(width == 0 ? 256 : width);
    }
    EXPECT_EQ(widths, (std::vector<int>{16, 32, 48, 256}));
    EXPECT_EQ(about.size(), main.size());

    for (int id : {IDR_MAINFRAME, IDI_TARNLINK}) {
        HICON icon = static_cast<HICON>(
            LoadImageA(m_module, MAKEINTRESOURCEA(id), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
        EXPECT_NE(icon, nullptr) << id;
        if (icon != nullptr) {
            DestroyIcon(icon);
        }
    }
}

TEST_F(ProgramResources, VersionOneOneZeroZero) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(programPath().c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(programPath().c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000000u);
    for (const char* name : {"FileVersion", "ProductVersion"}) {
        char* value = nullptr;
        const std::string key = std::string("\\StringFileInfo\\040904b0\\") + name;
        ASSERT_TRUE(
            VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
            << name;
        EXPECT_STREQ(value, "1, 1, 0, 0") << name;
    }
}

TEST_F(ProgramResources, ManifestRunsAsInvokerWithCommonControls6) {
    const std::string manifest = resourceText(1, 24 /*RT_MANIFEST*/);
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    const size_t controls = manifest.find("name=\"Microsoft.Windows.Common-Controls\"");
    ASSERT_NE(controls, std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\"", controls), std::string::npos);
}

}  // namespace
}  // namespace tarnlink::test
