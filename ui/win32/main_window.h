#pragma once
// The application's main window, the one window that the worker notifications address:
// the main dialog, registered before it runs, published once its window exists and
// forgotten when that window is destroyed.

#include <windows.h>

#include <memory>

#include "transfer/notifications.h"

namespace tarnlink {

class ModalDialog;

/// Registers `dialog` as the main window (null: none). UI thread, before its DoModal.
void setMainWindow(ModalDialog* dialog);

/// The registered main window, or null. UI thread.
ModalDialog* mainWindow();

/// The main window's handle while its window exists, else null. Any thread.
HWND mainWindowHandle();

/// Called by every dialog when its window is created and destroyed; they act only for the
/// registered main window. Destroying it clears the registration. UI thread.
void mainWindowCreated(ModalDialog* dialog, HWND hWnd);
void mainWindowDestroyed(ModalDialog* dialog);

/// The notification target of the Win32 program: the status and progress controls of the
/// main window (its texts in UTF-8) and WM_TRANSFER_DONE posted to it. With no
/// main window, the calling thread's active window, which a worker never has.
std::shared_ptr<NotificationTarget> makeMainWindowNotificationTarget();

}  // namespace tarnlink
