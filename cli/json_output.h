#pragma once
// The one JSON object that --json prints at the end of a transfer.

#include <cstdint>
#include <string>

namespace tarnlink {

/// `text` as a JSON string literal, quotes included; control characters are escaped.
std::string jsonString(const std::string& text);

/// {"result": n, "name": "...", "message": "...", "blocks": n, "seconds": s} on one line.
std::string transferResultJson(uint8_t result, uint32_t blocks, double seconds);

}  // namespace tarnlink
