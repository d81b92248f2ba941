#include "ui/win32/main_window.h"

#include <commctrl.h>

#include <atomic>

#include "ui/resource_ids.h"
#include "ui/win32/window_text.h"

namespace tarnlink {

namespace {

// Written on the UI thread; the handle is read by workers, hence both atomic.
std::atomic<ModalDialog*> g_mainWindow{nullptr};
std::atomic<HWND> g_mainWindowHandle{nullptr};

class MainWindowNotificationTarget final : public NotificationTarget {
  public:
    void showStatus(const char* text) override {
        // From another thread this sends WM_SETTEXT to the UI thread and returns once the
        // control has taken its copy of the text.
        if (HWND status = control(IDC_STATUS)) {
            setWindowText(status, text);
        }
    }

    void setProgress(uint8_t position) override {
        if (HWND progress = control(IDC_PROGRESS)) {
            SendMessageW(progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
            SendMessageW(progress, PBM_SETPOS, position, 0);
        }
    }

    void postTransferDone(uint8_t result) override {
        if (HWND window = targetWindow()) {
            PostMessageW(window, WM_TRANSFER_DONE, result, 0);
        }
    }

  private:
    static HWND targetWindow() {
        HWND window = mainWindowHandle();
        return window != nullptr ? window : GetActiveWindow();
    }

    // A handle that went stale meanwhile is harmless: the system refuses it.
    static HWND control(int id) {
        HWND window = targetWindow();
        return window != nullptr ? GetDlgItem(window, id) : nullptr;
    }
};

}  // namespace

void setMainWindow(ModalDialog* dialog) {
    g_mainWindow = dialog;
    g_mainWindowHandle = nullptr;
}

ModalDialog* mainWindow() {
    return g_mainWindow;
}

HWND mainWindowHandle() {
    return g_mainWindowHandle;
}

void mainWindowCreated(ModalDialog* dialog, HWND hWnd) {
    if (dialog != nullptr && g_mainWindow == dialog) {
        g_mainWindowHandle = hWnd;
    }
}

void mainWindowDestroyed(ModalDialog* dialog) {
    ModalDialog* expected = dialog;
    if (dialog != nullptr && g_mainWindow.compare_exchange_strong(expected, nullptr)) {
        g_mainWindowHandle = nullptr;
    }
}

std::shared_ptr<NotificationTarget> makeMainWindowNotificationTarget() {
    return std::make_shared<MainWindowNotificationTarget>();
}

}  // namespace tarnlink
