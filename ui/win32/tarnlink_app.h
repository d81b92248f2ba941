#pragma once
// The application object: runs the main dialog modally; the program ends with it.

namespace tarnlink {

class CTarnlinkApp {
  public:
    CTarnlinkApp();
    virtual ~CTarnlinkApp();
    CTarnlinkApp(const CTarnlinkApp&) = delete;
    CTarnlinkApp& operator=(const CTarnlinkApp&) = delete;

    /// Registers the common controls, runs the main dialog as the main window until it is
    /// closed and returns false: the program then ends at once, whatever still runs. A
    /// transfer is neither cancelled nor waited for. UI thread, once.
    virtual bool InitInstance();
};

}  // namespace tarnlink
