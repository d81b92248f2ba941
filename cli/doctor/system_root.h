#pragma once
// Where the doctor looks: the machine's own root ("/"), or a folder that holds a fake tree
// of the same shape (sys, proc, dev, etc, run, usr) for a test. Nothing is ever written.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnlink::doctor {

class SystemRoot {
  public:
    explicit SystemRoot(std::string root = "/");

    /// `absolute` ("/dev/ttyUSB0") as seen under this root.
    std::string at(const std::string& absolute) const;

    /// The file's first line without its line end; nullopt when it cannot be read.
    std::optional<std::string> firstLine(const std::string& absolute) const;
    /// Every line of the file; empty when it cannot be read.
    std::vector<std::string> lines(const std::string& absolute) const;
    bool exists(const std::string& absolute) const;

  private:
    std::string m_root;  // without a trailing slash; empty for "/"
};

/// The root that TARNLINK_SYSTEM_ROOT names, or "/".
SystemRoot systemRootFromEnvironment();

}  // namespace tarnlink::doctor
