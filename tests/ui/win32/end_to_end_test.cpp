// tarnlink.exe's dialog on the real transfer engine under Wine, against the simulated target
// (a Linux program on a pseudo-terminal, mapped into the prefix as a COM port by
// scripts/wine-with-pty): what a user types and clicks, and what the status line ends with.
// The application's own start-up (CTarnlinkApp::InitInstance) runs on a UI thread of the
// test; the last case starts tarnlink.exe itself and closes it during a transfer.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/unicode_names.h"
#include "tests/ui/win32/dialog_driver.h"
#include "transfer/transfer_context.h"
#include "ui/resource_ids.h"
#include "ui/win32/main_window.h"
#include "ui/win32/tarnlink_app.h"

namespace tarnlink::test {
namespace {

constexpr int TRANSFER_TIMEOUT_MS = 120000;
constexpr int WAIT_MS = 10000;
constexpr char MAIN_CAPTION[] = "Tarnlink Demo Tool - v1.1";

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// "COM20" from scripts/wine-with-pty: the dialog's port field takes the number.
std::string simPortNumber() {
    const std::string port = environment("TARNLINK_TEST_COM_PORT");
    return port.rfind("COM", 0) == 0 ? port.substr(3) : port;
}

std::vector<uint8_t> testImage(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 64);
    }
    return bytes;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

class Win32EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        m_ui = std::make_unique<UiThread>([] {
            CTarnlinkApp app;
            app.InitInstance();
        });
        ASSERT_TRUE(waitUntil(
            [] { return mainWindowHandle() != nullptr && IsWindowVisible(mainWindowHandle()); },
            WAIT_MS))
            << "the dialog did not open (is there a display?)";
        m_dlg = DialogDriver(mainWindowHandle());
    }
    void TearDown() override { m_ui.reset(); }

    void requireSim() {
        if (simPortNumber().empty()) {
            GTEST_SKIP() << "no simulated target: run through scripts/wine-with-pty";
        }
    }
    void type(const std::string& path, const std::string& port) {
        m_dlg.type(IDC_IMAGE_PATH, path);
        m_dlg.type(IDC_COM_PORT, port);
    }
    bool waitForStatus(const std::string& text, int timeoutMs) {
        return waitUntil([&] { return m_dlg.text(IDC_STATUS) == text; }, timeoutMs);
    }
    bool waitForStatusStart(const std::string& prefix, int timeoutMs) {
        return waitUntil([&] { return startsWith(m_dlg.text(IDC_STATUS), prefix); }, timeoutMs);
    }
    bool idleLook() const {
        return m_dlg.text(IDC_LOAD) == "Load Image" && m_dlg.shown(IDC_LOAD) &&
               m_dlg.text(IDC_CRYPT) == "Crypt Image" && m_dlg.shown(IDC_CRYPT) &&
               !m_dlg.shown(IDC_PROGRESS);
    }

    TempDir m_dir;
    std::unique_ptr<UiThread> m_ui;
    DialogDriver m_dlg{nullptr};
};

TEST_F(Win32EndToEnd, DownloadCompletes) {
    requireSim();
    const std::vector<uint8_t> image = testImage(3000);  // 47 blocks, the last one padded
    type(windowsPath(m_dir.write("image.bin", image)), simPortNumber());
    m_dlg.click(IDC_LOAD);
    EXPECT_EQ(m_dlg.text(IDC_LOAD), "Cancel");
    EXPECT_FALSE(m_dlg.shown(IDC_CRYPT));
    EXPECT_TRUE(m_dlg.shown(IDC_PROGRESS));
    ASSERT_TRUE(waitForStatus("Download completed successfully", TRANSFER_TIMEOUT_MS))
        << m_dlg.text(IDC_STATUS);
    EXPECT_TRUE(idleLook());
    // The last verify step set 50 + 46 * 16 * 50 / 750 = 99.
    EXPECT_EQ(m_dlg.progressPosition(), 99);

    // What the target stored: the image, then 0xFF to the end of its last block.
    const std::string flashOut = environment("TARNLINK_SIM_FLASH_OUT");
    ASSERT_FALSE(flashOut.empty());
    std::vector<uint8_t> flash = readFile(windowsPath(flashOut));
    ASSERT_EQ(flash.size(), 3008u);
    std::vector<uint8_t> expected = image;
    expected.resize(3008, 0xFF);
    EXPECT_TRUE(flash == expected);
}

TEST_F(Win32EndToEnd, CryptCompletes) {
    requireSim();
    const std::string output = windowsPath(m_dir.file("crypt.bin"));
    type(output, simPortNumber());
    m_dlg.click(IDC_CRYPT);
    EXPECT_EQ(m_dlg.text(IDC_CRYPT), "Cancel");
    EXPECT_FALSE(m_dlg.shown(IDC_LOAD));
    ASSERT_TRUE(waitForStatus("Crypto uploaded successfully.", TRANSFER_TIMEOUT_MS))
        << m_dlg.text(IDC_STATUS);
    EXPECT_TRUE(idleLook());
    // Every block of the preloaded flash, once each.
    const std::string flashIn = environment("TARNLINK_SIM_FLASH_IN");
    ASSERT_FALSE(flashIn.empty());
    const size_t flashSize = readFile(windowsPath(flashIn)).size();
    ASSERT_GT(flashSize, 0u);
    EXPECT_EQ(readFile(output).size(), (flashSize + 63) / 64 * 64);
}

// Every file under the folder `folder` (a wide path of any length), with its size.
std::vector<std::pair<std::wstring, uint64_t>> filesIn(const std::wstring& folder) {
    std::vector<std::pair<std::wstring, uint64_t>> files;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((L"\\\\?\\" + folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            files.emplace_back(found.cFileName,
                               uint64_t{found.nFileSizeHigh} << 32 | found.nFileSizeLow);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

// A folder named outside every ANSI code page ("Łódź-日本"), made in the test's folder.
std::wstring makeNonAnsiFolder(const TempDir& dir) {
    const std::wstring folder = wideFromUtf8(windowsPath(dir.path())) + L"\\" + NON_ANSI_NAME_WIDE;
    EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
    return folder;
}

// The image lies in a folder and under a name that no ANSI code page holds, typed into the
// dialog as UTF-16: the dialog hands it on whole and the engine opens exactly that file.
TEST_F(Win32EndToEnd, DownloadFromAPathInAnyScript) {
    requireSim();
    const std::wstring image = makeNonAnsiFolder(m_dir) + L"\\" + NON_ANSI_NAME_WIDE + L".bin";
    const std::vector<uint8_t> bytes = testImage(1000);
    std::FILE* file = _wfopen(image.c_str(), L"wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    SetWindowTextW(m_dlg.item(IDC_IMAGE_PATH), image.c_str());
    m_dlg.type(IDC_COM_PORT, simPortNumber());
    m_dlg.click(IDC_LOAD);
    ASSERT_TRUE(waitUntil([&] { return idleLook(); }, TRANSFER_TIMEOUT_MS));
    ASSERT_EQ(m_dlg.text(IDC_STATUS), "Download completed successfully");
    std::vector<uint8_t> flash = readFile(windowsPath(environment("TARNLINK_SIM_FLASH_OUT")));
    std::vector<uint8_t> expected = bytes;
    expected.resize(1024, 0xFF);
    EXPECT_TRUE(flash == expected);
}

// The crypt lands under exactly the name typed, in a folder that no ANSI code page names;
// then once more in a folder past MAX_PATH below it (the engine hands such a path to the
// system in its "\\?\" form; Wine opens it without that form too, Windows does not).
TEST_F(Win32EndToEnd, CryptToAPathInAnyScript) {
    requireSim();
    const size_t cryptSize =
        (readFile(windowsPath(environment("TARNLINK_SIM_FLASH_IN"))).size() + 63) / 64 * 64;
    ASSERT_GT(cryptSize, 0u);
    const std::wstring name = std::wstring(L"crypt-") + NON_ANSI_NAME_WIDE + L".bin";
    std::wstring folder = makeNonAnsiFolder(m_dir);
    m_dlg.type(IDC_COM_PORT, simPortNumber());
    SetWindowTextW(m_dlg.item(IDC_IMAGE_PATH), (folder + L"\\" + name).c_str());
    m_dlg.click(IDC_CRYPT);
    ASSERT_TRUE(waitUntil([&] { return idleLook(); }, TRANSFER_TIMEOUT_MS));
    EXPECT_EQ(m_dlg.text(IDC_STATUS), "Crypto uploaded successfully.");
    EXPECT_EQ(filesIn(folder), (std::vector<std::pair<std::wstring, uint64_t>>{{name, cryptSize}}));

    for (wchar_t part : {L'p', L'q', L'r'}) {
        folder += L"\\" + std::wstring(100, part);
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) << GetLastError();
    }
    const std::wstring longPath = folder + L"\\" + name;
    ASSERT_GT(longPath.size(), size_t{MAX_PATH});
    SetWindowTextW(m_dlg.item(IDC_IMAGE_PATH), longPath.c_str());
    m_dlg.click(IDC_CRYPT);
    ASSERT_TRUE(waitUntil([&] { return idleLook(); }, TRANSFER_TIMEOUT_MS));
    EXPECT_EQ(m_dlg.text(IDC_STATUS), "Crypto uploaded successfully.");
    EXPECT_EQ(filesIn(folder), (std::vector<std::pair<std::wstring, uint64_t>>{{name, cryptSize}}));
}

// The simulated target is slow here (--baud), so the download is still writing when the
// user clicks "Cancel"; it ends within one block's wait.
TEST_F(Win32EndToEnd, CancelMidway) {
    requireSim();
    type(windowsPath(m_dir.write("image.bin", testImage(64 * 200))), simPortNumber());
    m_dlg.click(IDC_LOAD);
    ASSERT_TRUE(waitForStatusStart("Sending Data Packet", TRANSFER_TIMEOUT_MS))
        << m_dlg.text(IDC_STATUS);
    const auto clicked = std::chrono::steady_clock::now();
    m_dlg.click(IDC_LOAD);                      // it reads "Cancel"
    EXPECT_EQ(m_dlg.text(IDC_LOAD), "Cancel");  // until the worker has ended
    ASSERT_TRUE(waitForStatus("Download canceled", WAIT_MS)) << m_dlg.text(IDC_STATUS);
    EXPECT_LT(std::chrono::steady_clock::now() - clicked, std::chrono::seconds(5));
    EXPECT_TRUE(idleLook());
    EXPECT_TRUE(waitUntil([] { return g_transfer.state.load() == STATE_IDLE; }, WAIT_MS));
}

// COM250 is mapped to nothing: the start fails at once, the look returns to Idle.
TEST_F(Win32EndToEnd, MissingPortFailsAtOnce) {
    type(windowsPath(m_dir.write("image.bin", testImage(100))), "250");
    m_dlg.click(IDC_LOAD);
    ASSERT_TRUE(waitForStatus("SERIALPORT_ERROR", WAIT_MS)) << m_dlg.text(IDC_STATUS);
    EXPECT_TRUE(idleLook());
    m_dlg.click(IDC_CRYPT);
    EXPECT_TRUE(waitUntil([this] { return idleLook(); }, WAIT_MS));
    EXPECT_EQ(m_dlg.text(IDC_STATUS), "SERIALPORT_ERROR");
}

// The About box does not pause the transfer: the status goes on changing under it, and the
// result is there when it closes.
TEST_F(Win32EndToEnd, TransferGoesOnWhileAboutIsOpen) {
    requireSim();
    type(windowsPath(m_dir.write("image.bin", testImage(64 * 40))), simPortNumber());
    m_dlg.click(IDC_LOAD);
    ASSERT_TRUE(waitForStatusStart("Sending Data Packet", TRANSFER_TIMEOUT_MS));
    PostMessageA(m_dlg.window(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = waitForDialog(m_ui->id(), "About Tarnlink", WAIT_MS);
    ASSERT_NE(about, nullptr);
    const std::string before = m_dlg.text(IDC_STATUS);
    EXPECT_TRUE(waitUntil([&] { return m_dlg.text(IDC_STATUS) != before; }, WAIT_MS));
    ASSERT_TRUE(waitForStatus("Download completed successfully", TRANSFER_TIMEOUT_MS))
        << m_dlg.text(IDC_STATUS);
    EXPECT_TRUE(IsWindow(about));
    DialogDriver(about).pressKey(VK_ESCAPE);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(about); }, WAIT_MS));
    EXPECT_EQ(m_dlg.text(IDC_STATUS), "Download completed successfully");
    EXPECT_TRUE(idleLook());
}

struct WindowSearch {
    DWORD processId;
    HWND found = nullptr;
};

HWND findProgramWindow(DWORD processId) {
    WindowSearch search{processId};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<WindowSearch*>(parameter);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->processId && IsWindowVisible(window) &&
                textOf(window) == MAIN_CAPTION) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Closing tarnlink.exe during a transfer ends the program at once, with status 0: the
// transfer is neither cancelled nor waited for, and its threads go with the process.
TEST(Win32Program, ClosingDuringATransferEndsTheProgram) {
    if (simPortNumber().empty()) {
        GTEST_SKIP() << "no simulated target: run through scripts/wine-with-pty";
    }
    TempDir dir;
    const std::string image = windowsPath(dir.write("image.bin", testImage(64 * 400)));
    std::string command = "\"" + windowsPath(TARNLINK_EXE_PATH) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process))
        << command << ": error " << GetLastError();
    // Whatever goes wrong, the program does not outlive the test.
    struct Reaper {
        PROCESS_INFORMATION& process;
        ~Reaper() {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process.hProcess, 99);
            }
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    } reaper{process};
    HWND window = nullptr;
    ASSERT_TRUE(
        waitUntil([&] { return (window = findProgramWindow(process.dwProcessId)); }, 30000));
    DialogDriver program(window);
    EXPECT_EQ(program.text(IDC_COM_PORT), "1");
    program.type(IDC_IMAGE_PATH, image);
    program.type(IDC_COM_PORT, simPortNumber());
    program.click(IDC_LOAD);
    ASSERT_TRUE(
        waitUntil([&] { return startsWith(program.text(IDC_STATUS), "Sending Data Packet"); },
                  TRANSFER_TIMEOUT_MS))
        << program.text(IDC_STATUS);
    EXPECT_EQ(program.text(IDC_LOAD), "Cancel");

    const auto closed = std::chrono::steady_clock::now();
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    const DWORD waited = WaitForSingleObject(process.hProcess, 10000);
    const auto took = std::chrono::steady_clock::now() - closed;
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "tarnlink.exe did not end when closed";
    EXPECT_LT(took, std::chrono::seconds(5));
    DWORD status = 99;
    GetExitCodeProcess(process.hProcess, &status);
    EXPECT_EQ(status, 0u);
}

}  // namespace
}  // namespace tarnlink::test
