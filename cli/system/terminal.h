#pragma once
// What the command line needs to know about the terminal it writes to.

#include <cstdio>

namespace tarnlink {

/// True when `stream` is a terminal that takes cursor control codes: a tty (a console on
/// Windows) whose TERM is not "dumb". Any thread.
bool isInteractiveTerminal(std::FILE* stream);

/// The width of the terminal behind `stream` in columns; 80 when it cannot be had.
unsigned terminalColumns(std::FILE* stream);

}  // namespace tarnlink
