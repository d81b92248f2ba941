#include "tests/support/child_environment.h"

#include <algorithm>
#include <cstdlib>

namespace tarnlink::test {

namespace {

void put(std::vector<std::string>& environment, const std::string& entry) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    const auto same = std::find_if(environment.begin(), environment.end(),
                                   [&](const std::string& e) { return e.rfind(name, 0) == 0; });
    if (same != environment.end()) {
        *same = entry;
    } else {
        environment.push_back(entry);
    }
}

}  // namespace

std::vector<std::string> childEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> environment = {"PATH=/usr/local/bin:/usr/bin:/bin", "LANG=C.UTF-8",
                                            "LC_ALL=C.UTF-8"};
    // The sanitizer builds' children need the same options (suppressions, leak checks).
    for (const char* name : {"TARNLINK_BUILD_DIR", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS",
                             "TSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) {
            put(environment, std::string(name) + "=" + value);
        }
    }
    for (const std::string& entry : extra) {
        put(environment, entry);
    }
    return environment;
}

}  // namespace tarnlink::test
