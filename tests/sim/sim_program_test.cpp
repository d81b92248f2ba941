// The program tarnlink-sim as a child process: it prints its port first, serves a download,
// writes its flash and frame log, and ends by itself with --once or on SIGTERM.

#include <algorithm>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/sim/sim_client.h"
#include "tests/support/child_environment.h"
#include "tests/support/temp_dir.h"

namespace tarnlink::test {
namespace {

using Bytes = std::vector<uint8_t>;

// A running tarnlink-sim with its standard output on a pipe.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        args.insert(args.begin(), TARNLINK_SIM_PROGRAM);
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        std::vector<std::string> environment = childEnvironment();
        std::vector<char*> envp;
        for (auto& entry : environment) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_out = out[0];
        if (rc != 0) {
            m_pid = -1;
            throw std::runtime_error("cannot start tarnlink-sim");
        }
    }
    ~SimProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        ::close(m_out);
    }

    /// The first line of its output, without the newline; empty on time-out.
    std::string firstLine(int timeoutMs = 5000) const {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{m_out, POLLIN, 0};
            if (poll(&pfd, 1, 50) <= 0) {
                continue;
            }
            char c = 0;
            if (::read(m_out, &c, 1) != 1 || c == '\n') {
                return line;
            }
            line.push_back(c);
        }
        return {};
    }

    /// Waits for the exit; its status code, or -1 on time-out or a death by signal.
    int waitExit(int timeoutMs = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

std::string hexLine(const Bytes& bytes) {
    std::ostringstream line;
    for (const uint8_t byte : bytes) {
        char text[4];
        std::snprintf(text, sizeof text, " %02X", byte);
        line << text;
    }
    return line.str();
}

TEST(SimProgram, ServesOneDownloadThenWritesItsFlashAndLog) {
    TempDir dir;
    const auto flashOut = dir.file("flash.bin");
    const auto log = dir.file("frames.log");
    const auto link = dir.file("ttySIM");
    SimProcess sim({"--once", "--flash-out", flashOut, "--log", log, "--link", link});
    const auto port = sim.firstLine();
    ASSERT_FALSE(port.empty());
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), port);

    const Bytes block = patternBlock(0x30);
    const std::vector<Bytes> requests{{0xFE, 0x01, 0x4D, 0x04, 0x02, 0x4A}, writeRequest(16, block),
                                      readRequest(16), {0xFE, 0x00, 0x4D, 0x03, 0x4E}};
    std::vector<Bytes> answers;
    {
        SimClient client(link);
        for (const auto& request : requests) {
            client.send(request);
            answers.push_back(client.readFrame());
            ASSERT_FALSE(answers.back().empty());
        }
    }
    EXPECT_EQ(sim.waitExit(), 0) << "--once ends after the enable";
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));

    // Built by copy rather than insert: g++ 12 warns falsely on the insert (-Warray-bounds).
    Bytes expectedFlash(64 + block.size(), 0xFF);
    std::copy(block.begin(), block.end(), expectedFlash.begin() + 64);
    EXPECT_EQ(readFile(flashOut), expectedFlash) << "up to the last written block";

    std::ifstream in(log);
    const std::regex format(R"(^(\d+) (in|out)((?: [0-9A-F]{2})+)$)");
    std::vector<std::string> lines;
    uint64_t lastUs = 0;
    for (std::string line; std::getline(in, line);) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, format)) << line;
        const uint64_t us = std::stoull(match[1]);
        EXPECT_GE(us, lastUs);
        lastUs = us;
        lines.push_back(match[2].str() + match[3].str());
    }
    ASSERT_EQ(lines.size(), 8u);
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(lines[2 * i], "in" + hexLine(requests[i]));
        EXPECT_EQ(lines[2 * i + 1], "out" + hexLine(answers[i]));
    }
}

TEST(SimProgram, OnceWaitsUntilTheHostHasReadTheLastAnswer) {
    // Closing the pseudo-terminal flushes what the host has not read: the program must not
    // end before its last answer has been taken.
    SimProcess sim({"--once"});
    const auto port = sim.firstLine();
    ASSERT_FALSE(port.empty());
    SimClient client(port);
    client.send({0xFE, 0x00, 0x4D, 0x03, 0x4E});  // enable: ends the transfer
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int status = 0;
    EXPECT_EQ(waitpid(sim.pid(), &status, WNOHANG), 0) << "ended with the answer unread";
    EXPECT_EQ(client.readFrame(), (Bytes{0xFE, 0x00, 0x4D, 0x83, 0xCE}));
    EXPECT_EQ(sim.waitExit(), 0);
}

TEST(SimProgram, ExitsCleanlyOnSigtermWithItsPreloadedFlashWritten) {
    TempDir dir;
    const Bytes preload(100, 0x5A);
    const auto flashIn = dir.write("in.bin", preload);
    const auto flashOut = dir.file("out.bin");
    SimProcess sim({"--flash-in", flashIn, "--flash-out", flashOut});
    ASSERT_FALSE(sim.firstLine().empty());
    ASSERT_EQ(kill(sim.pid(), SIGTERM), 0);
    EXPECT_EQ(sim.waitExit(), 0);
    Bytes expected = preload;
    expected.resize(128, 0xFF);
    EXPECT_EQ(readFile(flashOut), expected);
}

}  // namespace
}  // namespace tarnlink::test
