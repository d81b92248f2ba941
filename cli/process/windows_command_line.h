#pragma once
// A Windows program gets one command line, which its C runtime splits into argv again.

#include <string>
#include <vector>

namespace tarnlink {

/// The command line that the C runtime splits back into exactly `argv`. argv[0] (the
/// program) is put in quotes as it is, since the runtime reads it without escapes; every
/// other argument is quoted only when it has blanks or quotes or is empty, with each quote
/// escaped by a backslash and the backslashes before a quote (or the closing quote) doubled.
std::string windowsCommandLine(const std::vector<std::string>& argv);

}  // namespace tarnlink
