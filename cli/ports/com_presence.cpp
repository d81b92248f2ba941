#include "cli/ports/com_presence.h"

namespace tarnlink {

std::string presenceText(const std::string& name, const std::optional<std::string>& dosTarget,
                         const std::function<std::optional<std::string>()>& deviceIdentity) {
    if (!dosTarget) {
        return {};
    }
    const std::optional<std::string> identity = deviceIdentity();
    return name + "|" + (identity ? *identity : *dosTarget);
}

}  // namespace tarnlink
