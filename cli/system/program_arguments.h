#pragma once
// The program's own arguments as it holds every text: UTF-8.

#include <string>
#include <vector>

namespace tarnlink {

/// This program's arguments in UTF-8. POSIX: argv as it is. Windows: read again from the
/// system's UTF-16 command line, since argv holds them in the ANSI code page, where a name
/// outside it has become '?' or a look-alike. Main's thread, at the start.
std::vector<std::string> programArguments(int argc, char** argv);

/// The arguments of a Windows command line `line` (UTF-16) in UTF-8, split as the system
/// and the C runtime split them. Windows only; any thread.
std::vector<std::string> argumentsOfCommandLine(const std::wstring& line);

}  // namespace tarnlink
