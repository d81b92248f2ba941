#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <utility>

#include "cli/process/child_process.h"

extern char** environ;

namespace tarnlink {

namespace {

class Pipe {
  public:
    Pipe() = default;
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool open() { return ::pipe2(m_fds, O_CLOEXEC) == 0; }
    void swap(Pipe& other) {
        std::swap(m_fds[0], other.m_fds[0]);
        std::swap(m_fds[1], other.m_fds[1]);
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    int read() const { return m_fds[0]; }
    int write() const { return m_fds[1]; }
    void closeRead() { closeOne(0); }
    void closeWrite() { closeOne(1); }

  private:
    void closeOne(int i) {
        if (m_fds[i] >= 0) {
            ::close(m_fds[i]);
            m_fds[i] = -1;
        }
    }
    int m_fds[2] = {-1, -1};
};

size_t readSome(int fd, char* buffer, size_t size) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0) {
            return static_cast<size_t>(got);
        }
        if (errno != EINTR) {
            return 0;
        }
    }
}

class PosixChild : public ChildProcess {
  public:
    PosixChild(pid_t pid, Pipe& in, Pipe& out, Pipe& err) : m_pid(pid) {
        m_in.swap(in);
        m_out.swap(out);
        m_err.swap(err);
    }
    ~PosixChild() override {
        kill();
        if (!m_reaped) {
            wait();
        }
    }

    size_t readOutput(char* buffer, size_t size) override {
        return readSome(m_out.read(), buffer, size);
    }
    size_t readErrors(char* buffer, size_t size) override {
        return readSome(m_err.read(), buffer, size);
    }

    bool writeInput(const std::string& text) override {
        std::lock_guard lock(m_inputMutex);
        size_t done = 0;
        if (m_in.write() < 0) {
            return false;
        }
        while (done < text.size()) {
            const ssize_t n = ::write(m_in.write(), text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;  // EPIPE: the child has closed its input or ended
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    void closeInput() override {
        std::lock_guard lock(m_inputMutex);
        m_in.closeWrite();
    }

    void kill() override {
        // Under the lock that the reaping takes: a reaped pid may already belong to
        // another process.
        std::lock_guard lock(m_reapMutex);
        if (!m_reaped) {
            ::kill(m_pid, SIGKILL);
        }
    }

    ChildExit wait() override {
        // Wait without reaping, then reap under the lock, so kill() never hits a pid
        // that was given to someone else meanwhile.
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOWAIT) != 0 &&
               errno == EINTR) {
        }
        int status = 0;
        {
            std::lock_guard lock(m_reapMutex);
            while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
            m_reaped = true;
        }
        ChildExit exit;
        if (WIFEXITED(status)) {
            exit.exited = true;
            exit.code = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            exit.signal = WTERMSIG(status);
        }
        return exit;
    }

    long id() const override { return m_pid; }

  private:
    pid_t m_pid;
    Pipe m_in;
    Pipe m_out;
    Pipe m_err;
    std::mutex m_inputMutex;
    std::mutex m_reapMutex;
    bool m_reaped = false;  // guarded by m_reapMutex
};

}  // namespace

std::string ChildExit::describe() const {
    if (exited) {
        return "exit status " + std::to_string(code);
    }
    if (signal != 0) {
        const char* name = ::strsignal(signal);
        return "killed by signal " + std::to_string(signal) +
               (name != nullptr ? std::string(" (") + name + ")" : std::string());
    }
    return "ended in an unknown way";
}

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                                  std::string* error) {
    // Writing to a child that has just died must give EPIPE, not end this process.
    static const bool pipeSignalIgnored = [] {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        return ::sigaction(SIGPIPE, &ignore, nullptr) == 0;
    }();
    (void)pipeSignalIgnored;

    auto fail = [error](const char* what, int code) -> std::unique_ptr<ChildProcess> {
        if (error != nullptr) {
            *error = std::string(what) + ": " + std::strerror(code);
        }
        return nullptr;
    };
    if (argv.empty()) {
        return fail("no program", EINVAL);
    }
    // Every end is close-on-exec, so one child never holds another child's pipes open
    // (its input would then never end); the duplicates on 0, 1 and 2 are not.
    Pipe in, out, err;
    if (!in.open() || !out.open() || !err.open()) {
        return fail("pipe", errno);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out.write(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write(), STDERR_FILENO);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> text = argv;
    std::vector<char*> args;
    for (std::string& a : text) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        return fail(args[0], rc);
    }
    in.closeRead();
    out.closeWrite();
    err.closeWrite();
    return std::make_unique<PosixChild>(pid, in, out, err);
}

std::string currentExecutablePath() {
    char path[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (size <= 0) {
        return {};
    }
    return std::string(path, static_cast<size_t>(size));
}

double ownCpuSeconds() {
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) {
        return 0;
    }
    const auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace tarnlink
