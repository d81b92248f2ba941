#pragma once
// The form of a Windows path that the system's file calls take at any length.

#include <string>

namespace tarnlink {

/// The path to hand to the system's file calls for `path` (UTF-16): `path` itself while its
/// full form is shorter than MAX_PATH; else that full form (relative parts resolved, '/'
/// turned into '\') as "\\?\C:\..." or "\\?\UNC\server\share\...", which the calls take up
/// to 32,767 units long also where long paths are not enabled. A path already in the
/// "\\?\" or "\\.\" form is kept. Windows only; any thread.
std::wstring windowsFilePath(const std::wstring& path);

}  // namespace tarnlink
