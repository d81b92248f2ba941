#pragma once
// What the command line needs to know about the terminal it writes to.

#include <cstdio>
#include <string_view>

namespace tarnlink {

/// True when `stream` is a terminal that takes cursor control codes: a tty (a console on
/// Windows) whose TERM is not "dumb". Any thread.
bool isInteractiveTerminal(std::FILE* stream);

/// Writes `text` (UTF-8) to `stream`, in order with what went there before. On a Windows
/// console through WriteConsoleW, so that a name in any script shows as it is whatever the
/// console's code page; anywhere else (a file, a pipe; every POSIX stream) its UTF-8 bytes,
/// so that --json and redirected output are UTF-8 always. Any thread, one at a time per stream.
void writeText(std::FILE* stream, std::string_view text);

/// The width of the terminal behind `stream` in columns; 80 when it cannot be had.
unsigned terminalColumns(std::FILE* stream);

}  // namespace tarnlink
