#pragma once
// --dry-run: what the next boards would get, their values and their images' SHA-256, with
// no port opened and nothing taken from a counter or a list; for checking a set-up before a
// line starts.

#include "cli/program/cli_options.h"
#include "cli/program/image_input.h"

namespace tarnlink {

/// Shows options.dryRunBoards boards of `image` (read without failure) on stdout: a line
/// each, or with --json one array. Returns 0 when every one of them would get its value,
/// otherwise 1 (GENERAL_FAILURE, as the board would end), after naming why.
int showDryRun(const CliOptions& options, const ImageInput& image);

}  // namespace tarnlink
