#include "cli/process/cancel_lines.h"

namespace tarnlink {

int takeCancelLines(std::string& pending) {
    int cancels = 0;
    size_t start = 0;
    for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
        size_t length = end - start;
        if (length > 0 && pending[end - 1] == '\r') {
            --length;
        }
        if (pending.compare(start, length, "cancel") == 0) {
            ++cancels;
        }
    }
    pending.erase(0, start);
    if (pending.size() > 4096) {
        pending.clear();  // a line that long is no request
    }
    return cancels;
}

}  // namespace tarnlink
