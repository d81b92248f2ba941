#pragma once
// The system's own words for one of its error numbers.

#include <string>

namespace tarnlink {

/// "Input/output error" for EIO on POSIX; FormatMessage's text for a GetLastError() code on
/// Windows, without its trailing period and line end. "error N" when the system has none.
std::string systemErrorText(int error);

/// Windows: FormatMessage's text for `error` in the language `language` (a LANGID; 0: the
/// user's), in UTF-8; "error N" when the system has none in that language.
std::string systemErrorTextIn(int error, unsigned language);

}  // namespace tarnlink
