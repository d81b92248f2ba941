#pragma once
// Runs one load or crypt read-back on the transfer engine from the main thread: starts
// it, waits for its result, turns Ctrl-C into cancelTransfer.

#include "cli/cli_options.h"
#include "cli/console_target.h"
#include "cli/result_report.h"

namespace tarnlink {

/// Starts the transfer that `options` describes and returns once its result has arrived.
/// SIGINT and SIGTERM cancel it; a second one ends the process at once. Main thread only;
/// the frame trace, if any, is already running.
TransferOutcome runTransfer(const CliOptions& options, OutputMode mode);

}  // namespace tarnlink
