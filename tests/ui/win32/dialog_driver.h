#pragma once
// Runs a dialog under test on a user-interface thread of its own, with the system's modal
// loop, and drives it from the test's thread the way a user's actions arrive: messages to
// its controls (BM_CLICK, WM_SETTEXT, keys posted to the focused control), reading back
// texts, visibility and focus. Texts go in and out through the wide calls; the UTF-8 forms
// here come from the system's own conversion, not the program's.

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

namespace tarnlink::test {

/// Polls `done` every 10 ms until it holds or `timeoutMs` has passed; its last answer.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

/// The path as Windows names it: under Wine a Linux path "/x/y" is "Z:\x\y"; any other path
/// only gets backslashes.
std::string windowsPath(const std::string& path);

/// UTF-8 <-> UTF-16 by the system (MultiByteToWideChar, WideCharToMultiByte with CP_UTF8).
std::wstring wideFromUtf8(const std::string& utf8);
std::string utf8FromWide(const std::wstring& wide);

/// A thread that runs `body` and keeps a message queue: the UI thread of a dialog.
class UiThread {
  public:
    explicit UiThread(std::function<void()> body);
    /// Waits for the body to end; a dialog still open is closed first (WM_CLOSE).
    ~UiThread();
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    DWORD id() const { return m_id; }
    /// True once the body has returned.
    bool finished() const;
    /// Waits up to `timeoutMs` for the body to return.
    bool waitFinished(int timeoutMs) const;

  private:
    HANDLE m_thread = nullptr;
    DWORD m_id = 0;
    std::function<void()> m_body;
};

/// The first visible dialog box (class "#32770") of thread `threadId` whose caption is
/// `caption`, waiting up to `timeoutMs`; null when none came.
HWND waitForDialog(DWORD threadId, const std::string& caption, int timeoutMs);

/// Reads and acts on one dialog window from another thread. Every call returns once the
/// dialog's thread has handled it, except the post... calls.
class DialogDriver {
  public:
    explicit DialogDriver(HWND dialog) : m_dialog(dialog) {}

    HWND window() const { return m_dialog; }
    HWND item(int id) const { return GetDlgItem(m_dialog, id); }
    /// The text of control `id` in UTF-8, and as it is (UTF-16).
    std::string text(int id) const;
    std::wstring wideText(int id) const;
    /// Replaces the text of control `id` (SetWindowTextW, UTF-8 `text`), as typing over it
    /// would.
    void type(int id, const std::string& text) const;
    /// Clicks button `id` and returns once its handler has run.
    void click(int id) const;
    /// Queues a click, for one whose handler runs a modal window of its own.
    void postClick(int id) const;
    bool shown(int id) const { return IsWindowVisible(item(id)) != FALSE; }
    bool enabled(int id) const { return IsWindowEnabled(item(id)) != FALSE; }
    /// The window that has the keyboard focus on the dialog's thread.
    HWND focus() const;
    /// Presses and releases `vk` on the focused control, through the dialog's modal loop.
    void pressKey(UINT vk) const;
    int progressPosition() const;
    /// The progress bar's range as (low, high).
    std::pair<int, int> progressRange() const;

  private:
    HWND m_dialog;
};

/// The whole text of `window` in UTF-8 (and UTF-16), from any thread.
std::string textOf(HWND window);
std::wstring wideTextOf(HWND window);
/// The window class name of `window`.
std::string classOf(HWND window);

}  // namespace tarnlink::test
