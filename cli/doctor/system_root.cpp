#include "cli/doctor/system_root.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tarnlink::doctor {

SystemRoot::SystemRoot(std::string root) : m_root(std::move(root)) {
    while (!m_root.empty() && m_root.back() == '/') {
        m_root.pop_back();
    }
}

std::string SystemRoot::at(const std::string& absolute) const {
    return m_root + absolute;
}

std::optional<std::string> SystemRoot::firstLine(const std::string& absolute) const {
    std::ifstream in(at(absolute));
    if (!in) {
        return std::nullopt;
    }
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

std::vector<std::string> SystemRoot::lines(const std::string& absolute) const {
    std::vector<std::string> out;
    std::ifstream in(at(absolute));
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

bool SystemRoot::exists(const std::string& absolute) const {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(at(absolute), error));
}

SystemRoot systemRootFromEnvironment() {
    // A test points every look at a fake tree; the program never writes there.
    const char* root = std::getenv("TARNLINK_SYSTEM_ROOT");
    return SystemRoot(root != nullptr ? root : "/");
}

}  // namespace tarnlink::doctor
