#include "tests/link/com_peer_port.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>

namespace tarnlink::test {

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

bool underWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string testPort() {
    const std::string name = env("TARNLINK_TEST_COM_PORT");
    return name.empty() ? "" : "\\\\.\\" + name;
}

std::string peerFile(const char* name) {
    return "Z:" + env("TARNLINK_TEST_PEER_DIR") + "/" + name;
}

void setPeerFile(const char* name, bool present) {
    if (present) {
        std::ofstream(peerFile(name)).put('\n');
    } else {
        DeleteFileA(peerFile(name).c_str());
    }
}

int threadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == self ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

int waitForThreadCount(int expected) {
    waitUntil([&] { return threadCount() == expected; }, 10000);
    return threadCount();
}

double processCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ms = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               10000.0;
    };
    return ms(kernel) + ms(user);
}

}  // namespace tarnlink::test
