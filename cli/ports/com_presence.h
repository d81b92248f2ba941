#pragma once
// Whether a Windows COM port is there, and which device it is: a light look first.

#include <functional>
#include <optional>
#include <string>

namespace tarnlink {

/// The presence text of the COM port `name` ("COM3"): empty while the system has no DOS
/// device of that name (`dosTarget` empty), and then `deviceIdentity` (a walk through
/// SetupAPI, milliseconds) is not asked. Otherwise the name with the device's identity, or
/// with the DOS device's target for a port that no list of devices knows (Wine's).
std::string presenceText(const std::string& name, const std::optional<std::string>& dosTarget,
                         const std::function<std::optional<std::string>()>& deviceIdentity);

}  // namespace tarnlink
