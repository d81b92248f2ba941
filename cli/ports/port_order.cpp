#include "cli/ports/port_order.h"

#include <cctype>
#include <utility>

namespace tarnlink {

bool naturalPortLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        size_t digits = s.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1]))) {
            --digits;
        }
        // Leading zeros carry no weight; nine digits are all a port number ever needs.
        size_t first = digits;
        while (first + 1 < s.size() && s[first] == '0') {
            ++first;
        }
        const std::string number = s.substr(first, 9);
        return std::make_pair(s.substr(0, digits), number.empty() ? -1L : std::stol(number));
    };
    return split(a) < split(b);
}

}  // namespace tarnlink
