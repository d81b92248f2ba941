#include "cli/report/file_problem.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/utf8_file.h"
#include "platform/utf8_path.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

namespace fs = std::filesystem;

namespace {

std::string outputProblem(const std::string& path) {
    std::error_code error;
    const fs::path file = pathFromUtf8(path);
    if (fs::is_directory(file, error)) {
        return path + ": " + std::strerror(EISDIR);
    }
    if (fs::exists(file, error)) {
        // Opened for update, not created or cut: only to learn why writing fails.
        errno = 0;
        if (std::FILE* file = openUtf8File(path.c_str(), "r+b")) {
            std::fclose(file);
            return path + ": could not be written";
        }
        return path + ": " + std::strerror(errno);
    }
    const fs::path parent = file.parent_path();
    const fs::path folder = parent.empty() ? fs::path(".") : parent;
    if (!fs::is_directory(folder, error)) {
        return path + ": no folder " + utf8FromPath(folder);
    }
    // Nothing is there: trying to create it tells the system's reason, and a file that
    // could be made after all is taken away again.
    errno = 0;
    if (std::FILE* made = openUtf8File(path.c_str(), "wb")) {
        std::fclose(made);
        fs::remove(file, error);
        return path + ": could not be created";
    }
    return path + ": " + std::strerror(errno);
}

}  // namespace

std::string fileProblemText(TransferKind kind, uint8_t result, const std::string& path) {
    if (kind == TransferKind::CRYPT && result == IMAGE_FILE_ERROR) {
        return outputProblem(path);
    }
    return {};
}

}  // namespace tarnlink
