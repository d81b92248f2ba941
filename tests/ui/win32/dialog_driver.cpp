#include "tests/ui/win32/dialog_driver.h"

#include <commctrl.h>

#include <chrono>
#include <vector>

#include "ui/resource_ids.h"

namespace tarnlink::test {

namespace {

struct DialogSearch {
    std::string caption;
    HWND found = nullptr;
};

BOOL CALLBACK matchDialog(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<DialogSearch*>(parameter);
    if (IsWindowVisible(window) && classOf(window) == "#32770" &&
        textOf(window) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI runBody(LPVOID parameter) {
    (*static_cast<std::function<void()>*>(parameter))();
    return 0;
}

}  // namespace

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return done();
        }
        Sleep(10);
    }
    return true;
}

std::string windowsPath(const std::string& path) {
    std::string result = !path.empty() && path[0] == '/' ? "Z:" + path : path;
    for (char& c : result) {
        if (c == '/') {
            c = '\\';
        }
    }
    return result;
}

std::wstring wideFromUtf8(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
    return wide;
}

std::string utf8FromWide(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length,
                        nullptr, nullptr);
    return utf8;
}

UiThread::UiThread(std::function<void()> body) : m_body(std::move(body)) {
    m_thread = CreateThread(nullptr, 0, &runBody, &m_body, 0, &m_id);
}

UiThread::~UiThread() {
    if (m_thread == nullptr) {
        return;
    }
    // Whatever the test left open goes: the thread's top windows get WM_CLOSE until the
    // body returns.
    while (!waitFinished(100)) {
        EnumThreadWindows(
            m_id,
            [](HWND window, LPARAM) -> BOOL {
                PostMessageA(window, WM_CLOSE, 0, 0);
                return TRUE;
            },
            0);
    }
    CloseHandle(m_thread);
}

bool UiThread::finished() const {
    return waitFinished(0);
}

bool UiThread::waitFinished(int timeoutMs) const {
    return WaitForSingleObject(m_thread, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

HWND waitForDialog(DWORD threadId, const std::string& caption, int timeoutMs) {
    DialogSearch search{caption};
    waitUntil(
        [&] {
            EnumThreadWindows(threadId, &matchDialog, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

std::wstring wideTextOf(HWND window) {
    const auto length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    return buffer.data();
}

std::string textOf(HWND window) {
    return utf8FromWide(wideTextOf(window));
}

std::string classOf(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string DialogDriver::text(int id) const {
    return textOf(item(id));
}

std::wstring DialogDriver::wideText(int id) const {
    return wideTextOf(item(id));
}

void DialogDriver::type(int id, const std::string& text) const {
    SetWindowTextW(item(id), wideFromUtf8(text).c_str());
}

void DialogDriver::click(int id) const {
    SendMessageA(item(id), BM_CLICK, 0, 0);
}

void DialogDriver::postClick(int id) const {
    PostMessageA(item(id), BM_CLICK, 0, 0);
}

HWND DialogDriver::focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(m_dialog, nullptr), &info);
    return info.hwndFocus;
}

void DialogDriver::pressKey(UINT vk) const {
    HWND target = focus();
    if (target == nullptr) {
        target = m_dialog;
    }
    const UINT scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    PostMessageA(target, WM_KEYDOWN, vk, 1 | (static_cast<LPARAM>(scan) << 16));
    PostMessageA(target, WM_KEYUP, vk, 1 | (static_cast<LPARAM>(scan) << 16) | (3u << 30));
}

int DialogDriver::progressPosition() const {
    return static_cast<int>(SendMessageA(item(IDC_PROGRESS), PBM_GETPOS, 0, 0));
}

std::pair<int, int> DialogDriver::progressRange() const {
    PBRANGE range{};
    SendMessageA(item(IDC_PROGRESS), PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    return {range.iLow, range.iHigh};
}

}  // namespace tarnlink::test
