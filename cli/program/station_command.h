#pragma once
// tarnlink-cli load/crypt with several ports, "all" or --loop: the station.

#include <string>
#include <vector>

#include "cli/program/cli_options.h"

namespace tarnlink {

/// Runs one child process of this program per port in `ports` (in that order) and reports
/// every board. Returns the station's exit status. Main thread.
int runStation(const CliOptions& options, const std::vector<std::string>& ports);

}  // namespace tarnlink
