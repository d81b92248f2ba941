// Drives tarnlink.exe through a real download for the README's picture of the Windows dialog
// (scripts/windows-screenshot runs it):
//
//   ui_win32_screenshot_driver.exe IMAGE RECT_FILE DONE_FILE
//
// It starts the program, types IMAGE and the simulated target's port
// (TARNLINK_TEST_COM_PORT), clicks "Load Image" and, once the download is verifying, writes
// the window's rectangle ("x y width height") to RECT_FILE. When DONE_FILE exists it lets
// the download finish and closes the program. Exit 0 on success.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/ui/win32/dialog_driver.h"
#include "ui/resource_ids.h"

using namespace tarnlink::test;

namespace {

HWND findMainWindow(DWORD processId) {
    struct Search {
        DWORD processId;
        HWND found;
    } search{processId, nullptr};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->processId && IsWindowVisible(window) &&
                textOf(window) == "Tarnlink Demo Tool - v1.1") {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int fail(const char* what) {
    std::fprintf(stderr, "screenshot driver: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        return fail("usage: IMAGE RECT_FILE DONE_FILE");
    }
    const char* port = std::getenv("TARNLINK_TEST_COM_PORT");
    if (port == nullptr || std::string(port).rfind("COM", 0) != 0) {
        return fail("TARNLINK_TEST_COM_PORT names no COM port");
    }
    std::string command = "\"" + windowsPath(TARNLINK_EXE_PATH) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return fail("cannot start tarnlink.exe");
    }
    HWND window = nullptr;
    if (!waitUntil([&] { return (window = findMainWindow(process.dwProcessId)) != nullptr; },
                   30000)) {
        TerminateProcess(process.hProcess, 1);
        return fail("no window");
    }
    DialogDriver dialog(window);
    dialog.type(IDC_IMAGE_PATH, argv[1]);
    dialog.type(IDC_COM_PORT, std::string(port).substr(3));
    dialog.click(IDC_LOAD);
    // Well into the verify pass: the bar stands past its middle.
    if (!waitUntil([&] { return dialog.text(IDC_STATUS) == "Verifying Data Packet 120"; },
                   120000)) {
        TerminateProcess(process.hProcess, 1);
        return fail(("the download did not get there: " + dialog.text(IDC_STATUS)).c_str());
    }
    RECT rect;
    GetWindowRect(window, &rect);
    {
        std::ofstream out(argv[2]);
        out << rect.left << ' ' << rect.top << ' ' << rect.right - rect.left << ' '
            << rect.bottom - rect.top << '\n';
    }
    waitUntil([&] { return GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES; }, 60000);
    const bool completed = waitUntil(
        [&] { return dialog.text(IDC_STATUS) == "Download completed successfully"; }, 120000);
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return completed ? 0 : fail("the download did not complete");
}
