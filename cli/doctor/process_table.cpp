#include "cli/doctor/process_table.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tarnlink::doctor {

namespace fs = std::filesystem;

namespace {

bool isPid(const std::string& name) {
    return !name.empty() && name.size() < 10 &&
           std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); });
}

constexpr uint32_t TTYAUX_MAJOR = 5;
constexpr uint32_t PTMX_MINOR = 2;

// A master opened through /dev/ptmx says in its fdinfo which pseudo-terminal it belongs to.
void readPtyMaster(const fs::path& fdinfo, ProcessInfo& process) {
    std::ifstream in(fdinfo);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("tty-index:", 0) == 0) {
            process.ptyMasters.push_back(
                static_cast<uint32_t>(std::strtoul(line.c_str() + 10, nullptr, 10)));
        }
    }
}

void readOpenDevices(const fs::path& fdDir, ProcessInfo& process) {
    std::error_code error;
    fs::directory_iterator fds(fdDir, error);
    if (error) {
        return;
    }
    process.filesVisible = true;
    for (const fs::directory_entry& fd : fds) {
        // Only device nodes are of interest; a stat of a file on a hung network mount
        // would hang the doctor with it.
        const fs::path target = fs::read_symlink(fd.path(), error);
        if (error || target.string().rfind("/dev/", 0) != 0) {
            continue;
        }
        // stat follows the fd's link to the open file itself, whatever its path was.
        struct stat info {};
        if (::stat(fd.path().c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
            continue;
        }
        const DeviceNumber device{::major(info.st_rdev), ::minor(info.st_rdev)};
        if (device == DeviceNumber{TTYAUX_MAJOR, PTMX_MINOR}) {
            readPtyMaster(fdDir.parent_path() / "fdinfo" / fd.path().filename(), process);
        } else {
            process.devices.push_back(device);
        }
    }
}

}  // namespace

std::vector<ProcessInfo> listProcesses(const SystemRoot& root) {
    std::vector<ProcessInfo> processes;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(root.at("/proc"), error)) {
        const std::string name = entry.path().filename().string();
        if (!isPid(name)) {
            continue;
        }
        ProcessInfo process;
        process.pid = std::stoi(name);
        process.name = root.firstLine("/proc/" + name + "/comm").value_or("");
        struct stat info {};
        if (::stat(entry.path().c_str(), &info) == 0) {
            process.uid = info.st_uid;
        }
        readOpenDevices(entry.path() / "fd", process);
        processes.push_back(std::move(process));
    }
    std::sort(processes.begin(), processes.end(),
              [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
    return processes;
}

const ProcessInfo* findProcess(const std::vector<ProcessInfo>& processes, const std::string& name) {
    for (const ProcessInfo& process : processes) {
        if (process.name == name) {
            return &process;
        }
    }
    return nullptr;
}

}  // namespace tarnlink::doctor
