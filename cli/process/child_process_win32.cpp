#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "cli/process/child_process.h"
#include "cli/process/windows_command_line.h"
#include "cli/system/system_error_text.h"
#include "platform/utf16_text.h"

namespace tarnlink {

namespace {

// The exit status that kill() gives the child; a child that ends with it after a kill() was
// killed.
constexpr UINT KILLED_STATUS = 0xC0000000u | 9u;

class Handle {
  public:
    Handle() = default;
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }
    HANDLE get() const { return m_handle; }
    HANDLE* put() {
        close();
        return &m_handle;
    }
    void swap(Handle& other) { std::swap(m_handle, other.m_handle); }
    void close() {
        if (m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(m_handle);
        }
        m_handle = nullptr;
    }

  private:
    HANDLE m_handle = nullptr;
};

// One pipe: the end the child gets may be inherited, the parent's end may not.
bool makePipe(Handle& childEnd, Handle& parentEnd, bool childReads) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle read, write;
    if (!CreatePipe(read.put(), write.put(), &inheritable, 0)) {
        return false;
    }
    childEnd.swap(childReads ? read : write);
    parentEnd.swap(childReads ? write : read);
    return SetHandleInformation(parentEnd.get(), HANDLE_FLAG_INHERIT, 0) != 0;
}

size_t readSome(HANDLE pipe, char* buffer, size_t size) {
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>(size, MAXDWORD));
    if (!ReadFile(pipe, buffer, wanted, &got, nullptr)) {
        return 0;  // ERROR_BROKEN_PIPE: every writer has gone
    }
    return got;
}

class Win32Child : public ChildProcess {
  public:
    Win32Child(PROCESS_INFORMATION& info, Handle& in, Handle& out, Handle& err)
        : m_process(info.hProcess), m_id(info.dwProcessId) {
        CloseHandle(info.hThread);
        m_in.swap(in);
        m_out.swap(out);
        m_err.swap(err);
    }
    ~Win32Child() override {
        kill();
        if (!m_reaped) {
            wait();
        }
    }

    size_t readOutput(char* buffer, size_t size) override {
        return readSome(m_out.get(), buffer, size);
    }
    size_t readErrors(char* buffer, size_t size) override {
        return readSome(m_err.get(), buffer, size);
    }

    bool writeInput(const std::string& text) override {
        std::lock_guard lock(m_inputMutex);
        if (m_in.get() == nullptr) {
            return false;
        }
        size_t done = 0;
        while (done < text.size()) {
            DWORD n = 0;
            if (!WriteFile(m_in.get(), text.data() + done, static_cast<DWORD>(text.size() - done),
                           &n, nullptr) ||
                n == 0) {
                return false;  // ERROR_NO_DATA / BROKEN_PIPE: the child closed it or ended
            }
            done += n;
        }
        return true;
    }

    void closeInput() override {
        std::lock_guard lock(m_inputMutex);
        m_in.close();
    }

    void kill() override {
        // The process handle stays ours until the destructor, so its number can never
        // name another process here; the lock keeps "killed" and the exit apart.
        std::lock_guard lock(m_reapMutex);
        if (!m_reaped && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
            m_killed = TerminateProcess(m_process.get(), KILLED_STATUS) != 0;
        }
    }

    ChildExit wait() override {
        WaitForSingleObject(m_process.get(), INFINITE);
        DWORD status = 0;
        GetExitCodeProcess(m_process.get(), &status);
        std::lock_guard lock(m_reapMutex);
        m_reaped = true;
        ChildExit exit;
        exit.code = static_cast<int>(status);
        exit.exited = !(m_killed && status == KILLED_STATUS);
        return exit;
    }

    long id() const override { return static_cast<long>(m_id); }

  private:
    Handle m_process;
    DWORD m_id;
    Handle m_in;
    Handle m_out;
    Handle m_err;
    std::mutex m_inputMutex;
    std::mutex m_reapMutex;
    bool m_reaped = false;  // guarded by m_reapMutex
    bool m_killed = false;  // guarded by m_reapMutex
};

// Only the one child being started may inherit its three ends: a second child that took
// the first one's output pipe along would keep that pipe from ever ending.
std::mutex s_startMutex;

// Names the handles a child inherits, where the system lets us (Vista and later); the lock
// above covers the rest.
class InheritedHandles {
  public:
    explicit InheritedHandles(HANDLE (&handles)[3]) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        m_storage.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_storage.data());
        if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            return;
        }
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                       sizeof handles, nullptr, nullptr)) {
            DeleteProcThreadAttributeList(list);
            return;
        }
        m_list = list;
    }
    ~InheritedHandles() {
        if (m_list != nullptr) {
            DeleteProcThreadAttributeList(m_list);
        }
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return m_list; }

  private:
    std::string m_storage;
    LPPROC_THREAD_ATTRIBUTE_LIST m_list = nullptr;
};

}  // namespace

std::string ChildExit::describe() const {
    if (exited) {
        const unsigned status = static_cast<unsigned>(code);
        if (status >= 0xC0000000u) {
            // An exception or Ctrl-C: the system's status reads as hex.
            char text[32];
            std::snprintf(text, sizeof text, "exit status 0x%08X", status);
            return text;
        }
        return "exit status " + std::to_string(code);
    }
    return "killed";
}

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                                  std::string* error) {
    auto fail = [error](const std::string& what, DWORD code) -> std::unique_ptr<ChildProcess> {
        if (error != nullptr) {
            *error = what + ": " + systemErrorText(static_cast<int>(code));
        }
        return nullptr;
    };
    if (argv.empty()) {
        return fail("no program", ERROR_INVALID_PARAMETER);
    }
    std::lock_guard lock(s_startMutex);
    Handle childIn, childOut, childErr, in, out, err;
    if (!makePipe(childIn, in, true) || !makePipe(childOut, out, false) ||
        !makePipe(childErr, err, false)) {
        return fail("pipe", GetLastError());
    }
    HANDLE inherited[3] = {childIn.get(), childOut.get(), childErr.get()};
    InheritedHandles handleList(inherited);

    // The wide call: a path or a file name outside the ANSI code page reaches the child as
    // it is, and the child reads it back with programArguments.
    const std::optional<std::wstring> program = utf16FromUtf8(argv[0]);
    std::optional<std::wstring> commandLine = utf16FromUtf8(windowsCommandLine(argv));
    if (!program || !commandLine) {
        return fail(argv[0], ERROR_NO_UNICODE_TRANSLATION);
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = childIn.get();
    startup.StartupInfo.hStdOutput = childOut.get();
    startup.StartupInfo.hStdError = childErr.get();
    DWORD flags = CREATE_NEW_PROCESS_GROUP;
    if (handleList.list() != nullptr) {
        startup.lpAttributeList = handleList.list();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program->c_str(), commandLine->data(), nullptr, nullptr, TRUE, flags,
                        nullptr, nullptr, &startup.StartupInfo, &info)) {
        return fail(argv[0], GetLastError());
    }
    return std::make_unique<Win32Child>(info, in, out, err);
}

std::string currentExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (size == 0) {
            return {};
        }
        if (size < path.size()) {
            path.resize(size);
            return utf8FromUtf16(path);
        }
        path.resize(path.size() * 2);  // cut short: try a bigger buffer
    }
}

double ownCpuSeconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    const auto seconds = [](const FILETIME& t) {
        const ULONGLONG ticks = (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        return static_cast<double>(ticks) / 1e7;  // 100 ns ticks
    };
    return seconds(kernel) + seconds(user);
}

}  // namespace tarnlink
