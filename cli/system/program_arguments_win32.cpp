#include <windows.h>
// CommandLineToArgvW is in shellapi.h, which needs windows.h first.
#include <shellapi.h>

#include "cli/system/program_arguments.h"
#include "platform/utf16_text.h"

namespace tarnlink {

std::vector<std::string> argumentsOfCommandLine(const std::wstring& line) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::string> utf8;
    if (arguments == nullptr) {
        return utf8;
    }
    for (int i = 0; i < count; ++i) {
        utf8.push_back(utf8FromUtf16(arguments[i]));
    }
    LocalFree(arguments);
    return utf8;
}

std::vector<std::string> programArguments(int argc, char** argv) {
    std::vector<std::string> arguments = argumentsOfCommandLine(GetCommandLineW());
    if (arguments.empty()) {
        return std::vector<std::string>(argv, argv + argc);  // the system could not split it
    }
    return arguments;
}

}  // namespace tarnlink
