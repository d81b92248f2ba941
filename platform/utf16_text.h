#pragma once
// UTF-8 inside the programs, UTF-16 at the edges of the Windows calls (the wide "W"
// functions). A Windows name is a sequence of 16-bit units that need not be well-formed
// UTF-16: a lone surrogate gets its own 3-byte form in UTF-8 (as in WTF-8), so that every
// name the system hands out comes back unchanged and names the same file. Each wchar_t
// holds one UTF-16 unit (it is 16 bits on Windows; the Linux build uses this for its tests).

#include <optional>
#include <string>
#include <string_view>

namespace tarnlink {

/// The UTF-16 form of `utf8`; std::nullopt when it is not UTF-8 (a lone surrogate's 3-byte
/// form is taken). For names: one that is not UTF-8 must not open some other file.
std::optional<std::wstring> utf16FromUtf8(std::string_view utf8);

/// The UTF-16 form of a text to be shown: what is not UTF-8 becomes U+FFFD.
std::wstring utf16TextFromUtf8(std::string_view utf8);

/// The UTF-8 form of `utf16`. Exact for every sequence of UTF-16 units, also a lone
/// surrogate, so that utf16FromUtf8 gives the same units back.
std::string utf8FromUtf16(std::wstring_view utf16);

}  // namespace tarnlink
