#pragma once
// Where a crypt output may go besides a regular file: standard output ("-"), and a named
// pipe, which must have a reader when it is opened, or the open would wait for ever.

#include <cstdio>
#include <string>

namespace tarnlink {

/// A stream of its own onto standard output, for bytes as they are (binary mode on
/// Windows), that the caller closes; standard output itself stays open for the report.
/// Null when it cannot be had, with errno set.
std::FILE* openStandardOutputForBytes();

/// A named pipe opened for writing without waiting for a reader, or why it was not.
struct PipeOutput {
    std::FILE* stream = nullptr;  ///< the caller's to close
    std::string problem;          ///< "no program reads from the named pipe", or the reason
};

/// Opens `path` when it is a named pipe, in one step: a look first and an open later would
/// let a reader see the look's end of file and go. Both fields empty when `path` is no named
/// pipe (then it is opened as any other file).
PipeOutput openNamedPipeOutput(const std::string& path);

}  // namespace tarnlink
