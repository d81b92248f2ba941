#pragma once
// Watches the turnarounds of a running transfer and gives the slow-line warning once: as
// soon as the first exchanges are measured, or at the end of a shorter transfer.

#include <string>

namespace tarnlink {

class SlowLineWatch {
  public:
    /// `devicePath` is the port of the transfer, named in the fix.
    explicit SlowLineWatch(std::string devicePath) : m_devicePath(std::move(devicePath)) {}

    /// The warning line when it is due and was not given yet; otherwise empty. `ended`:
    /// the transfer is over, judge whatever was measured. Main thread.
    std::string poll(bool ended);

  private:
    std::string m_devicePath;
    bool m_judged = false;
};

}  // namespace tarnlink
