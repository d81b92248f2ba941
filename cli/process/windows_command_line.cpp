#include "cli/process/windows_command_line.h"

namespace tarnlink {

namespace {

void appendQuoted(std::string& line, const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += arg;
        return;
    }
    line += '"';
    size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them: then each one is doubled,
        // and the quote itself escaped.
        line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        line += c;
        backslashes = 0;
    }
    line.append(2 * backslashes, '\\');  // they come before the closing quote
    line += '"';
}

}  // namespace

std::string windowsCommandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (size_t i = 0; i < argv.size(); ++i) {
        if (i == 0) {
            line += '"' + argv[0] + '"';
        } else {
            line += ' ';
            appendQuoted(line, argv[i]);
        }
    }
    return line;
}

}  // namespace tarnlink
