#include "image/intel_hex.h"

#include "image/text_records.h"

namespace tarnlink {

namespace {

enum RecordType : uint8_t {
    DATA = 0x00,
    END_OF_FILE = 0x01,
    EXTENDED_SEGMENT_ADDRESS = 0x02,
    START_SEGMENT_ADDRESS = 0x03,
    EXTENDED_LINEAR_ADDRESS = 0x04,
    START_LINEAR_ADDRESS = 0x05,
};

// Count, address (2) and type before the data, the checksum after it.
constexpr size_t RECORD_OVERHEAD = 5;

// The data bytes each record type must carry; -1 for any count.
int requiredDataBytes(uint8_t type) {
    switch (type) {
        case END_OF_FILE:
            return 0;
        case EXTENDED_SEGMENT_ADDRESS:
        case EXTENDED_LINEAR_ADDRESS:
            return 2;
        case START_SEGMENT_ADDRESS:
        case START_LINEAR_ADDRESS:
            return 4;
        default:
            return -1;
    }
}

// The address arithmetic of the two addressing modes: below a segment base the 16-bit
// offset wraps within its 64 KiB; below a linear base the address runs on, modulo 4 GiB.
struct Addressing {
    uint64_t upper = 0;
    bool segmented = false;

    void place(uint16_t offset, const uint8_t* data, size_t size, SegmentOrigin origin,
               ImageSegments& out) const {
        const size_t span =
            segmented ? 0x10000 - offset : static_cast<size_t>(0x100000000 - (upper + offset));
        const size_t first = size < span ? size : span;
        out.add(upper + offset, data, first, origin);
        if (first < size) {
            out.add(segmented ? upper : 0, data + first, size - first, origin);
        }
    }
};

}  // namespace

std::string parseIntelHex(const uint8_t* text, size_t size, ImageSegments& out) {
    TextLines lines(text, size);
    // Two hex digits a byte: the data is less than half the text.
    out.bytes.reserve(out.bytes.size() + size / 2);
    // Most tools write 16 data bytes a record, some 45 characters a line.
    out.segments.reserve(out.segments.size() + size / 45);
    std::string_view line;
    Addressing addressing;
    uint32_t endLine = 0;
    uint8_t record[RECORD_OVERHEAD + 255];

    while (lines.next(line)) {
        if (line.empty()) {
            continue;
        }
        // Built for an error only: the rest of the loop runs once per record.
        const auto at = [&lines] { return "line " + std::to_string(lines.number()) + ": "; };
        if (endLine != 0) {
            return at() + "a record after the end record of line " + std::to_string(endLine);
        }
        if (line.front() != ':') {
            return at() + "a record starts with ':', this line with " +
                   describeCharacter(line.front());
        }
        const std::string_view digits = line.substr(1);
        if (digits.size() % 2 != 0) {
            return at() + "an odd number of hex digits";
        }
        if (digits.size() < 2 * RECORD_OVERHEAD) {
            return at() + "too short for a record (" + std::to_string(RECORD_OVERHEAD) +
                   " bytes at least)";
        }
        if (std::string bad = decodeHexPairs(digits.substr(0, 2), record); !bad.empty()) {
            return at() + bad;
        }
        const size_t count = record[0];
        const size_t held = digits.size() / 2 - RECORD_OVERHEAD;
        if (held != count) {
            return at() + "the record gives " + std::to_string(count) +
                   " data bytes, the line holds " + std::to_string(held);
        }
        if (std::string bad = decodeHexPairs(digits, record); !bad.empty()) {
            return at() + bad;
        }
        uint8_t sum = 0;
        for (size_t i = 0; i < RECORD_OVERHEAD - 1 + count; ++i) {
            sum = static_cast<uint8_t>(sum + record[i]);
        }
        const uint8_t needed = static_cast<uint8_t>(0x100 - sum);
        const uint8_t given = record[RECORD_OVERHEAD - 1 + count];
        if (given != needed) {
            return at() + "checksum is " + hexByte(given) + ", the line's bytes need " +
                   hexByte(needed);
        }

        const auto offset = static_cast<uint16_t>(record[1] << 8 | record[2]);
        const uint8_t type = record[3];
        const uint8_t* data = record + 4;
        if (type > START_LINEAR_ADDRESS) {
            return at() + "record type " + hexByte(type) + " is not one of Intel HEX's (00 to 05)";
        }
        const int required = requiredDataBytes(type);
        if (required >= 0 && count != static_cast<size_t>(required)) {
            return at() + "a record of type " + hexByte(type) + " holds " +
                   std::to_string(required) + " data bytes, this one " + std::to_string(count);
        }
        // The two address records carry a 16-bit value, high byte first.
        const auto value = [data] { return static_cast<uint64_t>(data[0] << 8 | data[1]); };
        switch (type) {
            case DATA:
                addressing.place(offset, data, count, {SegmentOrigin::LINE, lines.number()}, out);
                break;
            case END_OF_FILE:
                endLine = lines.number();
                break;
            case EXTENDED_SEGMENT_ADDRESS:
                addressing = {value() << 4, true};
                break;
            case EXTENDED_LINEAR_ADDRESS:
                addressing = {value() << 16, false};
                break;
            default:
                break;  // a start address: where the program runs, nothing to flash
        }
    }
    if (endLine == 0) {
        return "after line " + std::to_string(lines.number()) +
               ": no end record (:00000001FF): the file may be cut short";
    }
    return {};
}

}  // namespace tarnlink
