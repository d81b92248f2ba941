#include "ui/qt/tarnlink_app.h"

#include <cstdio>
#include <cstdlib>

#include "transfer/notifications.h"
#include "ui/qt/app_icon.h"
#include "ui/qt/dialog_notifications.h"
#include "ui/qt/tarnlink_dlg.h"
#include "ui/transfer_engine.h"

namespace tarnlink {

CTarnlinkApp::CTarnlinkApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("tarnlink"));
    setApplicationVersion(QStringLiteral("1.1.0"));
    setDesktopFileName(QStringLiteral("tarnlink"));
    setWindowIcon(appIcon());
}

CTarnlinkApp::~CTarnlinkApp() = default;

bool CTarnlinkApp::InitInstance() {
    bool transferLeftRunning = false;
    {
        CTarnlinkDlg dialog;
        setNotificationTarget(makeDialogNotificationTarget(&dialog));
        dialog.exec();  // OK or cancel: the program ends the same way
        clearNotificationTarget();
        transferLeftRunning = dialog.busy() != 0 || transferRunning();
    }
    if (transferLeftRunning) {
        // Closing does not cancel or wait for a transfer. Its worker and reader threads may
        // still hold the port and the file, and they use the engine's globals, which a
        // normal exit would destroy under them; so the process ends here, without running
        // destructors, and the system releases the threads, the port and the file.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    return false;
}

}  // namespace tarnlink
