#include "tests/support/process_resources.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace tarnlink::test {

std::vector<std::string> openFileDescriptors() {
    std::vector<std::string> targets;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        std::error_code linkError;
        const auto target = std::filesystem::read_symlink(entry.path(), linkError);
        // The directory iterator's own descriptor is gone by the time we read its link.
        if (!linkError) {
            targets.push_back(entry.path().filename().string() + " -> " + target.string());
        }
    }
    return targets;
}

int threadCount() {
    int count = 0;
    std::error_code error;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task", error)) {
        ++count;
    }
    return count;
}

int baselineThreadCount() {
    std::thread([] {}).join();
    return threadCount();
}

int waitForThreadCount(int expected, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int count = threadCount();
    while (count > expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        count = threadCount();
    }
    return count;
}

}  // namespace tarnlink::test
