#pragma once
// tarnlink-cli load/verify/crypt with several ports, "all" or --loop: the station.

#include <string>
#include <vector>

#include "cli/program/cli_options.h"
#include "cli/program/image_input.h"

namespace tarnlink {

/// Runs one child process of this program per port in `ports` (in that order) and reports
/// every board. A load or verify names `image` (read once, from a regular file, without
/// failure): each board's child reads the file for itself, with the same --format and
/// --base. Returns the station's exit status. Main thread.
int runStation(const CliOptions& options, const std::vector<std::string>& ports,
               const ImageInput* image);

}  // namespace tarnlink
