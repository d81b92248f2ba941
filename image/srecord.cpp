#include "image/srecord.h"

#include "image/text_records.h"

namespace tarnlink {

namespace {

// Address bytes of each record type S0..S9; 0 for S4, which no file may hold.
constexpr size_t ADDRESS_BYTES[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

bool isData(int type) {
    return type >= 1 && type <= 3;
}

bool isCount(int type) {
    return type == 5 || type == 6;
}

bool isEnd(int type) {
    return type >= 7;
}

}  // namespace

std::string parseSRecord(const uint8_t* text, size_t size, ImageSegments& out) {
    TextLines lines(text, size);
    // Two hex digits a byte: the data is less than half the text.
    out.bytes.reserve(out.bytes.size() + size / 2);
    // Most tools write 16 data bytes a record, some 45 characters a line.
    out.segments.reserve(out.segments.size() + size / 45);
    std::string_view line;
    uint32_t endLine = 0;
    uint32_t dataRecords = 0;
    uint8_t record[256];

    while (lines.next(line)) {
        if (line.empty()) {
            continue;
        }
        // Built for an error only: the rest of the loop runs once per record.
        const auto at = [&lines] { return "line " + std::to_string(lines.number()) + ": "; };
        if (endLine != 0) {
            return at() + "a record after the end record of line " + std::to_string(endLine);
        }
        if (line.front() != 'S') {
            return at() + "a record starts with 'S', this line with " +
                   describeCharacter(line.front());
        }
        if (line.size() < 2 || line[1] < '0' || line[1] > '9' || line[1] == '4') {
            return at() + (line.size() < 2
                               ? std::string("no record type")
                               : describeCharacter(line[1]) +
                                     " after 'S' is not a record type (S0 to S9, not S4)");
        }
        const int type = line[1] - '0';
        const std::string_view digits = line.substr(2);
        if (digits.size() % 2 != 0) {
            return at() + "an odd number of hex digits";
        }
        if (digits.size() < 2) {
            return at() + "no byte count";
        }
        if (std::string bad = decodeHexPairs(digits.substr(0, 2), record); !bad.empty()) {
            return at() + bad;
        }
        // The count covers the address, the data and the checksum.
        const size_t count = record[0];
        const size_t held = digits.size() / 2 - 1;
        if (held != count) {
            return at() + "the record gives a count of " + std::to_string(count) +
                   " bytes, the line holds " + std::to_string(held);
        }
        const size_t addressBytes = ADDRESS_BYTES[type];
        if (count < addressBytes + 1) {
            return at() + "a count of " + std::to_string(count) + " leaves no room for S" +
                   std::to_string(type) + "'s " + std::to_string(addressBytes) +
                   " address bytes and the checksum";
        }
        if (std::string bad = decodeHexPairs(digits, record); !bad.empty()) {
            return at() + bad;
        }
        uint8_t sum = 0;
        for (size_t i = 0; i < count; ++i) {
            sum = static_cast<uint8_t>(sum + record[i]);
        }
        const auto needed = static_cast<uint8_t>(~sum);
        const uint8_t given = record[count];
        if (given != needed) {
            return at() + "checksum is " + hexByte(given) + ", the line's bytes need " +
                   hexByte(needed);
        }

        uint64_t address = 0;
        for (size_t i = 0; i < addressBytes; ++i) {
            address = address << 8 | record[1 + i];
        }
        if (isData(type)) {
            ++dataRecords;
            out.add(address, record + 1 + addressBytes, count - 1 - addressBytes,
                    {SegmentOrigin::LINE, lines.number()});
        } else if (isCount(type) && address != dataRecords) {
            return at() + "the count record says " + std::to_string(address) + " data records, " +
                   std::to_string(dataRecords) + " came before it";
        } else if (isEnd(type)) {
            endLine = lines.number();
        }
    }
    if (endLine == 0) {
        return "after line " + std::to_string(lines.number()) +
               ": no end record (S7, S8 or S9): the file may be cut short";
    }
    return {};
}

}  // namespace tarnlink
