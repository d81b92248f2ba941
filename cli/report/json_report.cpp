#include "cli/report/json_report.h"

#include <cmath>

#include "image/flat_image.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

namespace {

nlohmann::ordered_json textOrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

// Three decimals, as the figures were printed before they came from one object.
double rounded(double value) {
    return std::round(value * 1000.0) / 1000.0;
}

}  // namespace

nlohmann::ordered_json transferReportJson(const TransferReport& r) {
    nlohmann::ordered_json j;
    j["port"] = r.port;
    j["command"] = transferKindName(r.kind);
    j["result"] = r.result;
    j["name"] = transferResultName(r.result);
    j["message"] = transferResultMessage(r.result);
    j["blocks"] = r.blocks;
    // Milliseconds are all a report needs; more digits only look precise.
    j["seconds"] = std::round(std::max(r.seconds, 0.0) * 1000.0) / 1000.0;
    j[r.kind == TransferKind::CRYPT ? "output" : "image"] = r.file;
    j["bytes"] = r.digest ? nlohmann::ordered_json(r.digest->bytes) : nullptr;
    j["sha256"] = r.digest ? nlohmann::ordered_json(r.digest->sha256) : nullptr;
    j["format"] = textOrNull(r.format);
    j["image_sha256"] = textOrNull(r.imageSha256);
    // Text, as the README and the errors write addresses: a 64-bit ELF address is more
    // than many JSON readers keep exact as a number.
    j["base"] = r.base ? nlohmann::ordered_json(hexAddress(*r.base)) : nullptr;
    j["serial"] = textOrNull(r.serial);
    j["usb_serial"] = textOrNull(r.usbSerial);
    j["retries"] = r.retries;
    j["detail"] = textOrNull(r.detail);
    j["turnaround_ms"] =
        r.line.turnaroundMs >= 0 ? nlohmann::ordered_json(rounded(r.line.turnaroundMs)) : nullptr;
    j["efficiency"] =
        r.line.efficiency >= 0 ? nlohmann::ordered_json(rounded(r.line.efficiency)) : nullptr;
    // A tenth of a millisecond: a station's eight boards summed stay exact to a millisecond.
    j["cpu_seconds"] = r.cpuSeconds >= 0
                           ? nlohmann::ordered_json(std::round(r.cpuSeconds * 10000.0) / 10000.0)
                           : nullptr;
    j["time"] = r.time;
    return j;
}

std::string jsonText(const nlohmann::ordered_json& object, const char* key) {
    if (!object.is_object()) {
        return {};
    }
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::optional<uint8_t> jsonResult(const nlohmann::ordered_json& report) {
    if (!report.is_object()) {
        return std::nullopt;
    }
    const auto it = report.find("result");
    if (it == report.end() || !it->is_number_integer()) {
        return std::nullopt;
    }
    const int64_t value = it->get<int64_t>();
    if (value < 0 || value > 255) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(value);
}

}  // namespace tarnlink
