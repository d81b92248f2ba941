#include "ui/port_path.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace tarnlink {

namespace {

// The blanks that strtol skips.
bool isBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

int portNumberFromText(std::string_view text) {
    const std::string terminated(text);  // strtol needs a NUL at the end
    errno = 0;
    const long value = std::strtol(terminated.c_str(), nullptr, 10);
    // long is wider than 32 bits here; a value beyond int's range counts as the nearest limit.
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int>(value);
}

std::string portPathFromText(std::string_view text) {
    size_t first = 0;
    while (first < text.size() && isBlank(text[first])) {
        ++first;
    }
    if (first < text.size() && text[first] == '/') {
        return std::string(text.substr(first));
    }
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\COM%d", portNumberFromText(text));
    return path;
}

}  // namespace tarnlink
