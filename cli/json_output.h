#pragma once
// The one JSON object that --json prints at the end of a transfer.

#include <cstdint>
#include <string>

#include "cli/line_figures.h"

namespace tarnlink {

/// `text` as a JSON string literal, quotes included; control characters are escaped.
std::string jsonString(const std::string& text);

/// {"result": n, "name": "...", "message": "...", "blocks": n, "seconds": s,
/// "turnaround_ms": t, "efficiency": e} on one line; t and e are null when not measured.
std::string transferResultJson(uint8_t result, uint32_t blocks, double seconds,
                               const LineFigures& line = {});

}  // namespace tarnlink
