#pragma once
// The dialog program has no command line of its own; it answers only --help and --version,
// the way every program in /usr/bin does, before any window system is touched (so they
// work without a display, and its manual page is made from them at build time).

#include <cstdio>
#include <optional>

namespace tarnlink {

/// When the only argument is --help/-h or --version/-V, writes the answer to `out` and
/// returns the exit status; otherwise nullopt, and the dialog starts as always.
std::optional<int> answerInformationalOption(int argc, const char* const* argv, std::FILE* out);

}  // namespace tarnlink
