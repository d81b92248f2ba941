#pragma once
// --record FILE: the production record, one CSV line per board, appended as each board
// ends. Columns: time, port, usb_serial, command, file, sha256, result, seconds, retries,
// format, image_sha256, base, serial. New columns only ever go at the end, so a reader of an
// older record (nine or twelve columns; a file that grew across versions holds several)
// finds each column where it was; the last four are empty for a crypt and in lines of older
// versions, serial also for a board given no value of its own.

#include <nlohmann/json.hpp>
#include <string>

namespace tarnlink {

/// The header line, newline included.
std::string recordHeader();

/// The record line of one board from its report (transferReportJson), newline included.
/// Fields that hold a comma or a quote are quoted; control characters become spaces, so
/// a record is always one line.
std::string recordLine(const nlohmann::ordered_json& report);

/// Appends the record line of `report` to `path` (with the header when the file is new or
/// empty) as one write under a lock, flushed to disk. False with `*error` set when it
/// could not be written. Any thread.
bool appendRecord(const std::string& path, const nlohmann::ordered_json& report,
                  std::string* error);

}  // namespace tarnlink
