#include <cstring>

#include "cli/system/system_error_text.h"

namespace tarnlink {

std::string systemErrorText(int error) {
    const char* text = std::strerror(error);
    return text != nullptr && *text != '\0' ? std::string(text) : "error " + std::to_string(error);
}

}  // namespace tarnlink
