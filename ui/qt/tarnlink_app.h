#pragma once
// The application object: runs the main dialog modally and ends the program with it.

#include <QApplication>

namespace tarnlink {

class CTarnlinkApp : public QApplication {
    Q_OBJECT

  public:
    /// One per process, made by main() (Qt needs argc and argv, so not a static object).
    CTarnlinkApp(int& argc, char** argv);
    ~CTarnlinkApp() override;

    /// Runs the main dialog until it is closed, then returns false: there is no message loop
    /// of the application's own. Does not return while a transfer is still running: the
    /// process then ends at once with status 0. UI thread, once.
    bool InitInstance();
};

}  // namespace tarnlink
