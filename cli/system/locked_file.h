#pragma once
// Appending whole lines to a file that other processes append to at the same time.

#include <string>

namespace tarnlink {

/// Appends `text` to `path`, creating the file; when the file is empty, `header` goes
/// first in the same write. Other processes that append through this call never see a
/// part of `text` nor interleave with it (the file is locked for the write), and the data
/// is on disk when it returns. False with `*error` set to the system's reason. Any thread.
bool appendWithHeader(const std::string& path, const std::string& header, const std::string& text,
                      std::string* error);

}  // namespace tarnlink
