// The resources of tarnlink.exe that no window shows: the system-menu string, the icons,
// the version and the manifest, the last as the system itself reads it (its activation
// context). Reads the program file; needs no display. (The dialog templates are checked on
// the live dialogs, in dialog_test.cpp, which also sees the DPI awareness take effect.)

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
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

constexpr wchar_t SETTINGS_2005[] = L"http://schemas.microsoft.com/SMI/2005/WindowsSettings";
constexpr wchar_t SETTINGS_2016[] = L"http://schemas.microsoft.com/SMI/2016/WindowsSettings";

class ProgramManifest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::wstring program(programPath().begin(), programPath().end());  // ASCII
        ACTCTXW context{};
        context.cbSize = sizeof context;
        context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        context.lpSource = program.c_str();
        context.lpResourceName = MAKEINTRESOURCEW(1);
        m_context = CreateActCtxW(&context);
        ASSERT_NE(m_context, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    }
    void TearDown() override {
        if (m_context != INVALID_HANDLE_VALUE) {
            ReleaseActCtx(m_context);
        }
    }

    // A windowsSettings value; "<none>" when the manifest does not set it.
    std::wstring setting(const wchar_t* space, const wchar_t* name) const {
        wchar_t value[256] = L"";
        SIZE_T written = 0;
        if (!QueryActCtxSettingsW(0, m_context, space, name, value, 256, &written)) {
            return L"<none>";
        }
        return value;
    }

    HANDLE m_context = INVALID_HANDLE_VALUE;
};

// Per-monitor v2 where the system knows it (Windows 10 1703 and later), else system aware:
// "System" for Windows 10 1607, which knows dpiAwareness but not v2, and dpiAware for the
// systems before it, which read only that. Read here, not at run time: Wine 8 reports every
// program per-monitor aware (IsProcessDPIAware, GetAwarenessFromDpiAwarenessContext),
// whatever its manifest says, so a running program shows nothing of it.
TEST_F(ProgramManifest, PerMonitorV2AwareWithTheSystemAwareFallback) {
    EXPECT_EQ(setting(SETTINGS_2016, L"dpiAwareness"), L"PerMonitorV2, System");
    EXPECT_EQ(setting(SETTINGS_2005, L"dpiAware"), L"true");
}

TEST_F(ProgramManifest, LongPathAware) {
    EXPECT_EQ(setting(SETTINGS_2016, L"longPathAware"), L"true");
}

TEST_F(ProgramManifest, SupportsWindows7To11) {
    std::vector<char> info(4096);
    SIZE_T size = 0;
    ASSERT_TRUE(QueryActCtxW(0, m_context, nullptr, CompatibilityInformationInActivationContext,
                             info.data(), info.size(), &size))
        << GetLastError();
    info.resize(size);
    ASSERT_GE(info.size(), sizeof(DWORD));
    DWORD count = 0;
    std::memcpy(&count, info.data(), sizeof count);
    EXPECT_EQ(count, 4u);
    // The size of an element differs between systems (newer ones add the highest version
    // tested), so each identifier is looked for anywhere in the answer.
    const GUID systems[] = {
        {0x35138b9a, 0x5d96, 0x4fbd, {0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a}},  // 7
        {0x4a2f28e3, 0x53b9, 0x4441, {0xba, 0x9c, 0xd6, 0x9d, 0x4a, 0x4a, 0x6e, 0x38}},  // 8
        {0x1f676c76, 0x80e1, 0x4239, {0x95, 0xbb, 0x83, 0xd0, 0xf6, 0xd0, 0xda, 0x78}},  // 8.1
        {0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}},  // 10, 11
    };
    for (const GUID& system : systems) {
        const std::string_view bytes(info.data(), info.size());
        const std::string_view id(reinterpret_cast<const char*>(&system), sizeof system);
        EXPECT_NE(bytes.find(id), std::string_view::npos) << std::hex << system.Data1;
    }
}

}  // namespace
}  // namespace tarnlink::test
