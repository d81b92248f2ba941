#include "ui/win32/tarnlink_app.h"

#include <windows.h>

#include <commctrl.h>

#include "transfer/notifications.h"
#include "ui/win32/main_window.h"
#include "ui/win32/tarnlink_dlg.h"

namespace tarnlink {

CTarnlinkApp::CTarnlinkApp() = default;

CTarnlinkApp::~CTarnlinkApp() = default;

bool CTarnlinkApp::InitInstance() {
    // The progress bar's window class comes from the common controls.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    setNotificationTarget(makeMainWindowNotificationTarget());
    {
        CTarnlinkDlg dialog;
        setMainWindow(&dialog);
        dialog.DoModal();  // OK or cancel: the program ends the same way
        // The window is gone and with it the main-window reference (WM_DESTROY).
    }
    return false;
}

}  // namespace tarnlink
