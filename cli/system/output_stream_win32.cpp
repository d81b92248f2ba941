#include <fcntl.h>
#include <io.h>

#include "cli/system/output_stream.h"

namespace tarnlink {

std::FILE* openStandardOutputForBytes() {
    // Text mode would turn every 0x0A of the crypt into 0x0D 0x0A. The report written to
    // stdout afterwards is UTF-8 JSON with "\n" line ends, as on every other system.
    std::fflush(stdout);
    if (_setmode(_fileno(stdout), _O_BINARY) == -1) {
        return nullptr;
    }
    const int fd = _dup(_fileno(stdout));
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");
    if (stream == nullptr) {
        _close(fd);
    }
    return stream;
}

PipeOutput openNamedPipeOutput(const std::string&) {
    // A pipe's client open on Windows fails at once when no server is there: the engine's
    // own open never waits.
    return {};
}

}  // namespace tarnlink
