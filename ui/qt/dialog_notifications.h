#pragma once
// The main dialog as the target of the worker notifications.

#include <memory>

#include "transfer/notifications.h"

namespace tarnlink {

class CTarnlinkDlg;

/// A notification target that acts on `dialog`'s IDC_STATUS and IDC_PROGRESS and posts
/// WM_TRANSFER_DONE to it. It holds only a weak reference: once the dialog is destroyed,
/// every call does nothing. Create it on the UI thread; call it from any thread.
std::shared_ptr<NotificationTarget> makeDialogNotificationTarget(CTarnlinkDlg* dialog);

/// Clears the registered notification target when it is one made for `dialog`; any other
/// target (another window's, a test's) stays registered. UI thread.
void clearDialogNotificationTarget(const CTarnlinkDlg* dialog);

}  // namespace tarnlink
