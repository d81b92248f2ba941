#pragma once
// std::filesystem paths from and to the programs' UTF-8 names. A path made from a plain
// std::string reads it in the ANSI code page on Windows (so a name outside it becomes '?'),
// and path::string() writes it back that way; the char8_t forms are UTF-8 everywhere.

#include <filesystem>
#include <string>
#include <string_view>

namespace tarnlink {

/// The path named by `utf8`. Any thread.
std::filesystem::path pathFromUtf8(std::string_view utf8);

/// The name of `path` in UTF-8. Any thread.
std::string utf8FromPath(const std::filesystem::path& path);

}  // namespace tarnlink
