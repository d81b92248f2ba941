#pragma once
// A fake machine for the doctor under a temporary root: the sysfs tree of tests/cli/data,
// /proc/tty/drivers, accounts, and whatever a test adds (processes, udev records, rules).
// A fake port is a real pseudo-terminal: the doctor sees a true terminal device with
// numbers that the fake sysfs and the fake processes agree on.

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tarnlink::test {

class FakeSystem {
  public:
    FakeSystem();

    const std::string& root() const { return m_dir.path(); }
    /// `absolute` under the fake root.
    std::string at(const std::string& absolute) const { return root() + absolute; }

    /// Writes `text` to `absolute`, making its folders.
    void write(const std::string& absolute, const std::string& text) const;
    /// Makes `absolute` a symbolic link to `target`.
    void link(const std::string& absolute, const std::string& target) const;

    /// Makes the fake sysfs port `name` ("ttyUSB0") be the pseudo-terminal at `slavePath`:
    /// /dev/<name> and the slave path itself lead to it, and its sysfs "dev" holds its
    /// numbers. Returns its udev id ("c136:4").
    std::string attach(const std::string& name, const std::string& slavePath) const;
    /// The latency timer of the fake FTDI adapter (ttyUSB0).
    void setFtdiLatencyTimer(int ms) const;
    /// A process called `name` with `openFiles` (device paths) as fds 3, 4, ...
    void addProcess(int pid, const std::string& name,
                    const std::vector<std::string>& openFiles = {}) const;
    /// udev's database record of `udevId`, one "E:KEY=value" / "G:tag" line each.
    void setUdevRecord(const std::string& udevId, const std::vector<std::string>& lines) const;
    /// The udev rule as the package installs it.
    void installUdevRule() const;

  private:
    TempDir m_dir;
};

}  // namespace tarnlink::test
