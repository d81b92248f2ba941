#pragma once
// The real tarnlink-cli as a child process: spawn it with its output in files, signal it,
// wait for it with a time-out.

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tarnlink::test {

/// The tarnlink-cli binary of this build ($TARNLINK_BUILD_DIR/cli/tarnlink-cli).
std::string cliPath();

struct CliResult {
    int exitCode = -1;   ///< -1 when it died of a signal
    int signal = 0;      ///< the signal that ended it, or 0
    std::string out;     ///< all of stdout
    std::string err;     ///< all of stderr
    double seconds = 0;  ///< how long it ran
};

class CliProcess {
  public:
    /// Starts tarnlink-cli with `args`; stdout and stderr go to files, stdin is /dev/null.
    /// `stderrPath` non-empty: stderr opens that path instead (a pty slave, for instance);
    /// `stdoutPath` likewise for stdout (a named pipe that the test reads), and the result's
    /// `out` stays empty. `stdinPath` non-empty: stdin opens that path (a FIFO makes it a
    /// pipe; the start then waits for the FIFO's writer, so open that first, on another
    /// thread). The child's environment is childEnvironment(`env`): none of the caller's own.
    explicit CliProcess(const std::vector<std::string>& args,
                        const std::vector<std::string>& env = {},
                        const std::string& stderrPath = {}, const std::string& stdoutPath = {},
                        const std::string& stdinPath = {});
    ~CliProcess();  ///< kills a child that still runs
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    /// Waits until stderr holds `text`; false after `timeoutMs` or when the child ended.
    bool waitForStderr(const std::string& text, int timeoutMs);
    void sendSignal(int signal);
    /// Waits until no signal sent to the child is pending any more (it has been taken by
    /// a thread of the child); false after `timeoutMs`.
    bool waitSignalTaken(int timeoutMs) const;
    /// Waits for the end; a child still running after `timeoutMs` is killed (exitCode -1,
    /// signal SIGKILL).
    CliResult wait(int timeoutMs);
    std::string currentStderr() const;

  private:
    TempDir m_dir;
    pid_t m_pid = -1;
    double m_startSeconds = 0;
};

/// Runs tarnlink-cli to its end.
CliResult runCli(const std::vector<std::string>& args, int timeoutMs = 60000,
                 const std::vector<std::string>& env = {});

}  // namespace tarnlink::test
