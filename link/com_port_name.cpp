#include "link/com_port_name.h"

#include <cctype>
#include <charconv>
#include <string_view>

namespace tarnlink {

std::optional<int> comPortNumber(const std::string& path) {
    constexpr std::string_view PREFIX = "\\\\.\\";
    constexpr std::string_view COM = "COM";
    const std::string_view text(path);
    if (text.size() < PREFIX.size() + COM.size() || text.substr(0, PREFIX.size()) != PREFIX) {
        return std::nullopt;
    }
    for (size_t i = 0; i < COM.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[PREFIX.size() + i]);
        if (std::toupper(c) != COM[i]) {
            return std::nullopt;
        }
    }
    // Anything after "COM" that is not a whole decimal number names no port.
    const std::string_view digits = text.substr(PREFIX.size() + COM.size());
    int number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error == std::errc::result_out_of_range) {
        return 0;
    }
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return 0;
    }
    return number;
}

}  // namespace tarnlink
