#include "tests/cli/fake_system.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tarnlink::test {

namespace fs = std::filesystem;

FakeSystem::FakeSystem() {
    fs::copy(std::string(TARNLINK_CLI_TEST_DATA) + "/sysfs", at("/sys"),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    write("/proc/tty/drivers",
          "/dev/tty             /dev/tty        5       0 system:/dev/tty\n"
          "usbserial            /dev/ttyUSB   188 0-511 serial\n"
          "acm                  /dev/ttyACM   166 0-255 serial\n"
          "serial               /dev/ttyS       4 64-111 serial\n"
          "pty_slave            /dev/pts      136 0-1048575 pty:slave\n"
          "pty_master           /dev/ptm      128 0-1048575 pty:master\n");
    write("/etc/passwd",
          "root:x:0:0:root:/root:/bin/bash\n"
          "alice:x:1000:1000:Alice:/home/alice:/bin/bash\n"
          "bob:x:1001:1001:Bob:/home/bob:/bin/bash\n");
    write("/etc/group", "root:x:0:\ntty:x:5:\ndialout:x:20:bob\nalice:x:1000:\nbob:x:1001:\n");
    fs::create_directories(at("/dev"));
    fs::create_directories(at("/run/udev/data"));
    fs::create_directories(at("/usr/lib/udev/rules.d"));
    fs::create_directories(at("/etc/udev/rules.d"));
}

void FakeSystem::write(const std::string& absolute, const std::string& text) const {
    fs::create_directories(fs::path(at(absolute)).parent_path());
    std::ofstream out(at(absolute), std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + at(absolute));
    }
}

void FakeSystem::link(const std::string& absolute, const std::string& target) const {
    fs::create_directories(fs::path(at(absolute)).parent_path());
    fs::create_symlink(target, at(absolute));
}

std::string FakeSystem::attach(const std::string& name, const std::string& slavePath) const {
    struct stat info {};
    if (::stat(slavePath.c_str(), &info) != 0) {
        throw std::runtime_error("no pseudo-terminal at " + slavePath);
    }
    const std::string numbers =
        std::to_string(::major(info.st_rdev)) + ":" + std::to_string(::minor(info.st_rdev));
    link("/dev/" + name, slavePath);
    link(slavePath, slavePath);
    // Through the class link, into the device folder the fake tree keeps for the port.
    std::ofstream(at("/sys/class/tty/" + name + "/dev"), std::ios::trunc) << numbers << "\n";
    return "c" + numbers;
}

void FakeSystem::setFtdiLatencyTimer(int ms) const {
    std::ofstream(at("/sys/class/tty/ttyUSB0/device/latency_timer"), std::ios::trunc) << ms << "\n";
}

void FakeSystem::addProcess(int pid, const std::string& name,
                            const std::vector<std::string>& openFiles) const {
    const std::string dir = "/proc/" + std::to_string(pid);
    write(dir + "/comm", name + "\n");
    fs::create_directories(at(dir + "/fd"));
    int fd = 3;
    for (const std::string& file : openFiles) {
        link(dir + "/fd/" + std::to_string(fd++), file);
    }
}

void FakeSystem::setUdevRecord(const std::string& udevId,
                               const std::vector<std::string>& lines) const {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    write("/run/udev/data/" + udevId, text);
}

void FakeSystem::installUdevRule() const {
    fs::copy_file(TARNLINK_UDEV_RULE_FILE, at("/usr/lib/udev/rules.d/60-tarnlink.rules"));
}

}  // namespace tarnlink::test
