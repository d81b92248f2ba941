#pragma once
// The command line of a board's own value: --serial-at ADDR with a counter
// (--serial-counter FILE --serial-format FMT [--serial-start N] [--serial-step K]), a list
// (--serial-list FILE) or one value (--serial-value TEXT [--serial-format FMT]).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/serial/serial_source.h"

namespace CLI {
class App;
}

namespace tarnlink {

/// What a load or verify writes into each board's image. Off unless `at` is set.
struct SerialRequest {
    std::optional<uint64_t> at;  ///< byte offset in the flat image
    SerialSource source;
};

/// The options as typed, before they are checked.
struct SerialArguments {
    std::string at;
    std::string format;
    std::string counter;
    std::string start;
    uint64_t step = 1;
    std::string list;
    std::string value;
};

/// Adds the --serial-* options to a load or verify command.
void addSerialOptions(CLI::App& command, SerialArguments& arguments);

/// Checks the options as a whole and fills `request`. `verifying`: a verify compares a
/// board flashed earlier, so it takes no value from a counter or a list. Returns the usage
/// error, or empty.
std::string serialRequestFrom(const SerialArguments& arguments, bool verifying,
                              SerialRequest& request);

/// The options that give a station's child the same values: the source as it stands once
/// prepared (no --serial-start: the station has made or checked the counter already).
std::vector<std::string> serialChildArguments(const SerialRequest& request);

}  // namespace tarnlink
