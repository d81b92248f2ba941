#pragma once
// --trace FILE: every frame sent and received, one a line, with the seconds since the
// trace began: "0.052117 TX FE 01 4D 04 02 4A" (TX: to the target, RX: from it).

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnlink {

/// One trace line for a frame seen `seconds` after the start.
std::string formatTraceLine(double seconds, bool sent, const uint8_t* frame, size_t size);

/// Creates `path` (cut to 0 when it exists), writes a "#" header line with `title` and the
/// UTC start time, and registers the frame observer. False (errno set) when it cannot be
/// created. Main thread, before the transfer starts.
bool startFrameTrace(const std::string& path, const std::string& title);

/// Unregisters the observer and closes the file. Main thread, after the transfer ended.
void stopFrameTrace();

}  // namespace tarnlink
