#include "tests/image/image_records.h"

#include <cstdio>

namespace tarnlink::test {

namespace {

std::string hexBytes(const Bytes& bytes) {
    std::string text;
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        text += pair;
    }
    return text;
}

void put(Bytes& out, size_t at, uint64_t value, size_t bytes, bool bigEndian) {
    if (out.size() < at + bytes) {
        out.resize(at + bytes, 0);
    }
    for (size_t i = 0; i < bytes; ++i) {
        const auto b = static_cast<uint8_t>(value >> (8 * i));
        out[at + (bigEndian ? bytes - 1 - i : i)] = b;
    }
}

}  // namespace

std::string ihexRecord(uint8_t type, uint16_t address, const Bytes& data) {
    Bytes record = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                    static_cast<uint8_t>(address), type};
    record.insert(record.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : record) {
        sum = static_cast<uint8_t>(sum + b);
    }
    record.push_back(static_cast<uint8_t>(0x100 - sum));
    return ":" + hexBytes(record) + "\n";
}

std::string srecRecord(int type, uint32_t address, const Bytes& data) {
    static constexpr size_t addressBytes[10] = {2, 2, 3, 4, 2, 2, 3, 4, 3, 2};
    const size_t width = addressBytes[type];
    Bytes record = {static_cast<uint8_t>(width + data.size() + 1)};
    for (size_t i = width; i-- > 0;) {
        record.push_back(static_cast<uint8_t>(address >> (8 * i)));
    }
    record.insert(record.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : record) {
        sum = static_cast<uint8_t>(sum + b);
    }
    record.push_back(static_cast<uint8_t>(~sum));
    return "S" + std::to_string(type) + hexBytes(record) + "\n";
}

Bytes elfFile(bool is64, bool bigEndian, const std::vector<ElfSegment>& segments) {
    const size_t headerBytes = is64 ? 64 : 52;
    const size_t entryBytes = is64 ? 56 : 32;
    const size_t word = is64 ? 8 : 4;
    Bytes out(headerBytes, 0);
    out[0] = 0x7F;
    out[1] = 'E';
    out[2] = 'L';
    out[3] = 'F';
    out[4] = is64 ? 2 : 1;
    out[5] = bigEndian ? 2 : 1;
    out[6] = 1;                                               // EI_VERSION
    put(out, 16, 2, 2, bigEndian);                            // e_type: ET_EXEC
    put(out, 20, 1, 4, bigEndian);                            // e_version
    put(out, is64 ? 32 : 28, headerBytes, word, bigEndian);   // e_phoff
    put(out, is64 ? 52 : 40, headerBytes, 2, bigEndian);      // e_ehsize
    put(out, is64 ? 54 : 42, entryBytes, 2, bigEndian);       // e_phentsize
    put(out, is64 ? 56 : 44, segments.size(), 2, bigEndian);  // e_phnum

    size_t dataAt = headerBytes + entryBytes * segments.size();
    out.resize(dataAt, 0);
    for (size_t i = 0; i < segments.size(); ++i) {
        const ElfSegment& s = segments[i];
        const size_t at = headerBytes + i * entryBytes;
        const uint64_t offset = s.offset != 0 ? s.offset : dataAt;
        const uint64_t fileBytes = s.fileBytes != UINT64_MAX ? s.fileBytes : s.data.size();
        const uint64_t memBytes = s.memBytes != 0 ? s.memBytes : s.data.size();
        put(out, at, s.type, 4, bigEndian);
        if (is64) {
            put(out, at + 8, offset, 8, bigEndian);
            put(out, at + 16, s.vaddr, 8, bigEndian);
            put(out, at + 24, s.paddr, 8, bigEndian);
            put(out, at + 32, fileBytes, 8, bigEndian);
            put(out, at + 40, memBytes, 8, bigEndian);
        } else {
            put(out, at + 4, offset, 4, bigEndian);
            put(out, at + 8, s.vaddr, 4, bigEndian);
            put(out, at + 12, s.paddr, 4, bigEndian);
            put(out, at + 16, fileBytes, 4, bigEndian);
            put(out, at + 20, memBytes, 4, bigEndian);
        }
        if (s.offset == 0) {
            out.insert(out.end(), s.data.begin(), s.data.end());
            dataAt += s.data.size();
        }
    }
    return out;
}

}  // namespace tarnlink::test
