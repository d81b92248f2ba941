#pragma once
// Where each board's value comes from, taken once and only once across threads, station
// processes and restarts:
//  - a counter file: the next value as a line of decimal text; each board takes it and
//    leaves value + step behind;
//  - a list file: one value a line as hex bytes (blank lines and lines starting with '#'
//    are skipped); each board takes the first line not yet used. The numbers of the used
//    lines (counted from 1) are kept one a line in FILE.used beside it, written and synced
//    before the value is handed out, so a station killed in the middle goes on after the
//    last value it gave;
//  - one value given on the command line, for a board that is flashed again or verified.
// Counter and marks are changed under the lock the production record is appended under. A
// value is taken when its board starts; a board that then fails has burned it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/serial/serial_format.h"

namespace tarnlink {

struct SerialSource {
    enum Kind : uint8_t { COUNTER, LIST, FIXED };
    Kind kind = COUNTER;
    std::string path;     ///< counter, list
    SerialFormat format;  ///< counter; fixed when `hexBytes` is false
    std::optional<uint64_t> start;  ///< counter: creates it, or must be what it holds
    uint64_t step = 1;              ///< counter: added after each board
    std::string text;               ///< fixed: the value as given
    bool hexBytes = false;          ///< fixed: `text` is hex bytes, as a list line
};

/// The used marks of a list, kept beside it.
std::string usedMarksPath(const std::string& listPath);

/// Makes the source ready once before the first board: a counter that does not exist is
/// created holding `start` (an error without one); one that exists must hold `start` when
/// it is given, so that a line is not restarted by accident. A list must be readable and
/// a fixed value valid. Returns why not, or empty.
std::string prepareSerialSource(const SerialSource& source);

/// Takes the next value for a board. A counter value that does not fit the format, a list
/// line that is not hex bytes or not as long as the list's first value, or a list used up
/// is refused and nothing is taken. Empty with `*error` set. Any thread, any process.
std::optional<SerialValue> takeSerialValue(const SerialSource& source, std::string* error);

/// What the next values would be, taking nothing; for a dry run. Each is the value or why
/// that board would be stopped; the list ends at the first such board.
struct SerialPeek {
    std::optional<SerialValue> value;
    std::string error;
};
std::vector<SerialPeek> peekSerialValues(const SerialSource& source, size_t count);

}  // namespace tarnlink
