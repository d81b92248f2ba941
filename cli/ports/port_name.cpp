#include "cli/ports/port_name.h"

#include "link/serial_link.h"

namespace tarnlink {

std::string portPathFromArgument(const std::string& text) {
    return serialPortDevicePath(text);
}

}  // namespace tarnlink
