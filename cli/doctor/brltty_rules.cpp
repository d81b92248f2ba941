#include "cli/doctor/brltty_rules.h"

#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

namespace tarnlink::doctor {

namespace fs = std::filesystem;

namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The value of KEY=="value" in a rule line, if the line matches on KEY.
std::optional<std::string> matchValue(const std::string& line, const std::string& key) {
    const std::string opening = key + "==\"";
    const size_t at = line.find(opening);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const size_t start = at + opening.size();
    const size_t end = line.find('"', start);
    if (end == std::string::npos) {
        return std::nullopt;
    }
    return lowered(line.substr(start, end - start));
}

// udev patterns are shell globs with '|' between alternatives.
bool globMatches(const std::string& pattern, const std::string& text) {
    size_t start = 0;
    for (;;) {
        const size_t bar = pattern.find('|', start);
        const std::string one = pattern.substr(start, bar - start);
        if (fnmatch(one.c_str(), text.c_str(), 0) == 0) {
            return true;
        }
        if (bar == std::string::npos) {
            return false;
        }
        start = bar + 1;
    }
}

// PRODUCT is "vid/pid/bcdDevice" in hex without leading zeros.
std::string withoutLeadingZeros(const std::string& hex) {
    const size_t first = hex.find_first_not_of('0');
    return first == std::string::npos ? "0" : hex.substr(first);
}

bool productMatches(const std::string& pattern, const std::string& vid, const std::string& pid) {
    size_t start = 0;
    for (;;) {
        const size_t bar = pattern.find('|', start);
        const std::string one = pattern.substr(start, bar - start);
        const size_t slash1 = one.find('/');
        const size_t slash2 = slash1 == std::string::npos ? slash1 : one.find('/', slash1 + 1);
        if (slash1 != std::string::npos) {
            const std::string vidPattern = one.substr(0, slash1);
            const std::string pidPattern = one.substr(slash1 + 1, slash2 - slash1 - 1);
            if (fnmatch(vidPattern.c_str(), vid.c_str(), 0) == 0 &&
                fnmatch(pidPattern.c_str(), pid.c_str(), 0) == 0) {
                return true;
            }
        }
        if (bar == std::string::npos) {
            return false;
        }
        start = bar + 1;
    }
}

}  // namespace

BrlttyInstallation findBrltty(const SystemRoot& root) {
    BrlttyInstallation brltty;
    brltty.installed = root.exists("/usr/bin/brltty") || root.exists("/bin/brltty");
    for (const char* dir : {"/etc/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"}) {
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(root.at(dir), error)) {
            const std::string name = entry.path().filename().string();
            if (name.find("brltty") == std::string::npos) {
                continue;
            }
            brltty.installed = true;
            const std::vector<std::string> lines = root.lines(std::string(dir) + "/" + name);
            brltty.ruleLines.insert(brltty.ruleLines.end(), lines.begin(), lines.end());
        }
    }
    return brltty;
}

bool ruleLineClaims(const std::string& line, const std::string& vendorId,
                    const std::string& productId) {
    const size_t text = line.find_first_not_of(" \t");
    if (text == std::string::npos || line[text] == '#') {
        return false;
    }
    const std::string vid = lowered(vendorId);
    const std::string pid = lowered(productId);
    if (const auto product = matchValue(line, "ENV{PRODUCT}")) {
        return productMatches(*product, withoutLeadingZeros(vid), withoutLeadingZeros(pid));
    }
    const auto vendor = matchValue(line, "ATTRS{idVendor}");
    const auto device = matchValue(line, "ATTRS{idProduct}");
    return vendor && device && globMatches(*vendor, vid) && globMatches(*device, pid);
}

}  // namespace tarnlink::doctor
