#include "cli/port_name.h"

#include <cctype>

namespace tarnlink {

namespace {

bool allDigits(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

bool startsWithComIgnoringCase(const std::string& text) {
    return text.size() > 3 && std::toupper(static_cast<unsigned char>(text[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(text[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(text[2])) == 'M';
}

// "007" is port 7; more than four digits is no COM number anyone has.
std::string comPath(const std::string& digits) {
    size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos || digits.size() - first > 4) {
        return {};
    }
    return "\\\\.\\COM" + digits.substr(first);
}

}  // namespace

std::string portPathFromArgument(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    if (allDigits(text)) {
        return comPath(text);
    }
    if (startsWithComIgnoringCase(text) && allDigits(text.substr(3))) {
        return comPath(text.substr(3));
    }
    return text;
}

}  // namespace tarnlink
