#pragma once
// Opening a file by its name as the programs hold it: UTF-8, whatever characters it holds.
// On Linux the name's bytes are the name; on Windows the name is turned into the system's
// UTF-16 once, here, so no code page can replace a character with '?' or a look-alike and
// open another file than the one named.

#include <cstdio>

namespace tarnlink {

/// Opens the file named `path` (UTF-8) as std::fopen does with `mode` ("rb", "wb", ...).
/// Null when it cannot be opened, with errno set; a name that is not UTF-8 is refused
/// (EILSEQ) on Windows. The caller closes the stream with std::fclose. Any thread.
std::FILE* openUtf8File(const char* path, const char* mode);

}  // namespace tarnlink
