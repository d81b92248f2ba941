#pragma once
// --events: a JSON Lines stream of what a transfer does as it happens. Every line is one
// object with "event", "port" and "time" first:
//   {"event":"status","port":..,"time":..,"text":"Sending Data Packet 3","phase":"write",
//    "percent":8,"blocks_done":3,"blocks_total":40,"bytes_per_second":2210.5}
//   {"event":"progress","port":..,"time":..,"value":8}
//   {"event":"result","port":..,"time":..,  the fields of the --json report }
// A station adds "waiting" (for a port, or the next board on it) and "start".

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/report/transfer_progress.h"

namespace tarnlink {

/// "2026-12-08T01:38:12.345Z". Any thread.
std::string isoTimeUtc(std::chrono::system_clock::time_point when);
/// isoTimeUtc of now.
std::string isoTimeNow();

/// An event of kind `kind` for `port`, stamped now; the caller adds the rest.
nlohmann::ordered_json newEvent(const char* kind, const std::string& port);

/// A status event: the text and the picture of the transfer it leaves.
nlohmann::ordered_json statusEvent(const std::string& port, const ProgressSnapshot& snapshot);
/// A progress event with the engine's value (0..100 in a load; blocks / 40 in a read-back).
nlohmann::ordered_json progressEvent(const std::string& port, unsigned value);
/// The result event: `report` (transferReportJson) behind the event's own fields.
nlohmann::ordered_json resultEvent(const nlohmann::ordered_json& report);

/// The picture a status event carries; fields that are absent or of the wrong type stay
/// unknown.
ProgressSnapshot snapshotFromEvent(const nlohmann::ordered_json& event);

/// One line of the stream for `event`: compact JSON and a newline. Text that is not valid
/// UTF-8 is replaced, never thrown over.
std::string eventLine(const nlohmann::ordered_json& event);

}  // namespace tarnlink
