#pragma once
// Files that other processes change at the same time, each change one step under the
// file's lock (flock / LockFileEx): whole lines appended to a record, a small file such as
// a counter read and written back.

#include <functional>
#include <string>

namespace tarnlink {

/// Appends `text` to `path`, creating the file; when the file is empty, `header` goes
/// first in the same write. Other processes that append through this call never see a
/// part of `text` nor interleave with it (the file is locked for the write), and the data
/// is on disk when it returns. False with `*error` set to the system's reason. Any thread.
bool appendWithHeader(const std::string& path, const std::string& header, const std::string& text,
                      std::string* error);

/// Edits the file's whole text in place; returns false with `*error` set to leave the file
/// as it was.
using FileChange = std::function<bool(std::string& text, std::string* error)>;

/// Locks `path`, reads it whole, lets `change` edit the text and writes back what changed,
/// on disk when it returns. The new text is written over the old from its first byte, then
/// the file is cut to its length, so a text that only grows (a line appended, a number
/// with as many digits or more) is never lost, even by a process killed in the middle.
/// `create`: a missing file is made empty first; otherwise it is an error. False with
/// `*error` set to the system's reason or the change's. Any thread.
bool changeLockedFile(const std::string& path, bool create, const FileChange& change,
                      std::string* error);

}  // namespace tarnlink
