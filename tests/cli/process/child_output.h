#pragma once
// What a child wrote, read to the end: shared by the child-process tests of both platforms.

#include <cstddef>
#include <string>

#include "cli/process/child_process.h"

namespace tarnlink::test {

/// Everything the child writes to its standard output (`errors`: its standard error) until
/// the stream ends.
inline std::string readAll(ChildProcess& child, bool errors) {
    std::string text;
    char chunk[256];
    for (size_t got; (got = errors ? child.readErrors(chunk, sizeof chunk)
                                   : child.readOutput(chunk, sizeof chunk)) > 0;) {
        text.append(chunk, got);
    }
    return text;
}

}  // namespace tarnlink::test
