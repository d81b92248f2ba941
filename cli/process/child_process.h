#pragma once
// A child process with its standard input, output and error on pipes to this process:
// how a station runs one tarnlink-cli per board.

#include <memory>
#include <string>
#include <vector>

namespace tarnlink {

/// How a child ended.
struct ChildExit {
    bool exited = false;  ///< it returned from main or called exit
    int code = -1;        ///< its exit status, when it exited
    int signal = 0;       ///< the signal that ended it (POSIX), or 0
    /// "exit status 3", "killed by signal 9 (Killed)".
    std::string describe() const;
};

class ChildProcess {
  public:
    /// Starts `argv[0]` (a path) with `argv` and this process's environment, its standard
    /// input, output and error on pipes, in a process group of its own so that the
    /// terminal's Ctrl-C reaches only this process. Null, with `*error` set, when it
    /// cannot be started.
    static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv,
                                               std::string* error);
    /// Ends a child that still runs and reaps it. Only once no thread reads or waits any more.
    virtual ~ChildProcess() = default;

    /// Reads what the child wrote to its standard output / error; waits for data. The
    /// count read, 0 at the end of the stream (or on an error). One thread per stream.
    virtual size_t readOutput(char* buffer, size_t size) = 0;
    virtual size_t readErrors(char* buffer, size_t size) = 0;
    /// Writes all of `text` to the child's standard input. False when the child no longer
    /// reads it. Any thread, one at a time.
    virtual bool writeInput(const std::string& text) = 0;
    /// Closes the child's standard input: its next read there sees the end.
    virtual void closeInput() = 0;
    /// Ends the child at once. Any thread; does nothing once it has been reaped.
    virtual void kill() = 0;
    /// Waits for the child to end and reaps it. One thread.
    virtual ChildExit wait() = 0;
    /// The system's number for the child.
    virtual long id() const = 0;
};

/// The path of this program's executable, to start it again as a child. Empty when unknown.
std::string currentExecutablePath();

/// CPU time (user and system) this process has used so far, in seconds. Any thread.
double ownCpuSeconds();

}  // namespace tarnlink
