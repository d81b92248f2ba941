#include "tests/cli/cli_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "tests/support/child_environment.h"

namespace tarnlink::test {

namespace {

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string readText(const std::string& path) {
    const std::vector<uint8_t> bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

std::string cliPath() {
    const char* dir = std::getenv("TARNLINK_BUILD_DIR");
    if (dir == nullptr) {
        throw std::runtime_error("TARNLINK_BUILD_DIR is not set");
    }
    return std::string(dir) + "/cli/tarnlink-cli";
}

CliProcess::CliProcess(const std::vector<std::string>& args, const std::vector<std::string>& env,
                       const std::string& stderrPath, const std::string& stdoutPath,
                       const std::string& stdinPath) {
    std::vector<std::string> argvText{cliPath()};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    std::vector<std::string> envText = childEnvironment(env);
    std::vector<char*> envp;
    for (std::string& e : envText) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    const std::string outPath = stdoutPath.empty() ? m_dir.file("stdout") : stdoutPath;
    const std::string errPath = stderrPath.empty() ? m_dir.file("stderr") : stderrPath;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(
        &actions, 0, stdinPath.empty() ? "/dev/null" : stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(
        &actions, 1, outPath.c_str(),
        stdoutPath.empty() ? (O_WRONLY | O_CREAT | O_TRUNC) : (O_WRONLY | O_NOCTTY), 0600);
    posix_spawn_file_actions_addopen(
        &actions, 2, errPath.c_str(),
        stderrPath.empty() ? (O_WRONLY | O_CREAT | O_TRUNC) : (O_RDWR | O_NOCTTY), 0600);
    m_startSeconds = nowSeconds();
    const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        m_pid = -1;
        throw std::runtime_error("posix_spawn of tarnlink-cli failed");
    }
}

CliProcess::~CliProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

std::string CliProcess::currentStderr() const {
    return readText(m_dir.file("stderr"));
}

bool CliProcess::waitForStderr(const std::string& text, int timeoutMs) {
    const double end = nowSeconds() + timeoutMs / 1000.0;
    while (nowSeconds() < end) {
        if (currentStderr().find(text) != std::string::npos) {
            return true;
        }
        // Peek without reaping: a child that has ended will not write any more.
        siginfo_t info{};
        if (m_pid <= 0 ||
            ::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            info.si_pid != 0) {
            return currentStderr().find(text) != std::string::npos;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void CliProcess::sendSignal(int signal) {
    if (m_pid > 0) {
        ::kill(m_pid, signal);
    }
}

bool CliProcess::waitSignalTaken(int timeoutMs) const {
    // /proc/<pid>/status: ShdPnd lists the signals sent to the process and not yet taken.
    const std::string status = "/proc/" + std::to_string(m_pid) + "/status";
    const double end = nowSeconds() + timeoutMs / 1000.0;
    while (nowSeconds() < end) {
        const std::string text = readText(status);
        const size_t at = text.find("ShdPnd:");
        if (at != std::string::npos &&
            text.compare(text.find_first_not_of(" \t", at + 7), 16, "0000000000000000") == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

CliResult CliProcess::wait(int timeoutMs) {
    CliResult result;
    const double end = nowSeconds() + timeoutMs / 1000.0;
    int status = 0;
    while (m_pid > 0) {
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            break;
        }
        if (nowSeconds() >= end) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
    result.seconds = nowSeconds() - m_startSeconds;
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    result.out = readText(m_dir.file("stdout"));
    result.err = currentStderr();
    return result;
}

CliResult runCli(const std::vector<std::string>& args, int timeoutMs,
                 const std::vector<std::string>& env) {
    CliProcess process(args, env);
    return process.wait(timeoutMs);
}

}  // namespace tarnlink::test
