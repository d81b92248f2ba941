#pragma once
// The report of one board's transfer as JSON: what --json prints, what the final event of
// --events carries, and what the production record is made from. Built in one function,
// transferReportJson, so a new field is added in one place.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "cli/report/line_figures.h"
#include "cli/report/result_report.h"
#include "cli/report/sha256.h"

namespace tarnlink {

/// Everything known about one board's transfer at its end.
struct TransferReport {
    TransferKind kind = TransferKind::LOAD;
    std::string port;  ///< as the user named it
    std::string file;  ///< load, verify: the image; crypt: the output file
    uint8_t result = 0;
    uint32_t blocks = 0;  ///< load: blocks verified; crypt: blocks received
    double seconds = 0;   ///< start of the transfer to its result
    /// load, verify: of the image file as read; crypt: of the output written
    std::optional<FileDigest> digest;
    std::string format;            ///< load, verify: "bin", "ihex", "srec" or "elf"
    std::string imageSha256;       ///< load, verify: SHA-256 of the flat image sent
    std::optional<uint64_t> base;  ///< load, verify: flash address of its first byte
    std::string serial;            ///< the board's own value as text; empty when none
    std::string usbSerial;         ///< the adapter's serial number; empty when none
    uint32_t retries = 0;          ///< block requests sent again
    std::string detail;            ///< the line under the result's message; may be empty
    double cpuSeconds = -1;        ///< CPU time of the board's process; negative: unknown
    LineFigures line;              ///< turnaround and efficiency of the line
    std::string time;              ///< when the result came, ISO 8601 UTC
};

/// The report as one JSON object, fields in a fixed order: "port", "command", "result",
/// "name", "message", "blocks", "seconds", "image" (load, verify) or "output" (crypt),
/// "bytes" and "sha256" (of the file), "format", "image_sha256" (of the flat image),
/// "base" ("0x08000000"), "serial" (the board's own value), "usb_serial", "retries", "detail", "turnaround_ms" (median of the first
/// exchanges), "efficiency" (line time of the bytes over the elapsed time), "cpu_seconds",
/// "time". Unknown values are null.
nlohmann::ordered_json transferReportJson(const TransferReport& report);

/// A field of a report (or of any event) as text; empty when it is absent, null or not a
/// string. Numbers are not converted.
std::string jsonText(const nlohmann::ordered_json& object, const char* key);

/// The "result" field of a report; empty when it is absent or not a number 0..255.
std::optional<uint8_t> jsonResult(const nlohmann::ordered_json& report);

}  // namespace tarnlink
