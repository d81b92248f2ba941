#pragma once
// One board from start to report: waits for its port when asked, runs the load, verify or
// crypt read-back on the transfer engine, and reports it (result lines on stderr, --json,
// --events, --record). Ctrl-C and SIGTERM cancel; a second one quits at once. As a
// station's child it also cancels on "cancel" or the end of its standard input.

#include "cli/program/cli_options.h"
#include "cli/program/image_input.h"
#include "cli/report/json_report.h"

namespace tarnlink {

/// Runs the board `options` names (`port` and `portPath` set) and returns the exit status.
/// A load or verify sends `image` (read by readImageInput, without failure); a crypt takes
/// none. Main thread.
int runOneBoard(const CliOptions& options, const ImageInput* image);

/// The kind of transfer the command of `options` runs.
TransferKind transferKindOf(const CliOptions& options);

/// Reports a run that failed before any board started (no port could be chosen, the image
/// could not be read): the result lines, --json / --events and --record as for a board,
/// with what is known of `image` when given. Returns the exit status.
int reportWithoutBoard(const CliOptions& options, uint8_t result, const std::string& detail,
                       const ImageInput* image = nullptr);

/// Writes what a board's report asks for beyond its text lines: the --events result event
/// or the --json object on stdout, and the --record line. False when the record could not
/// be written (a line on stderr says why). Main thread.
bool publishReport(const CliOptions& options, const nlohmann::ordered_json& report);

}  // namespace tarnlink
