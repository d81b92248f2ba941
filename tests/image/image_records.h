#pragma once
// Firmware files made by the tests: Intel HEX and S-record lines with their checksums, and
// ELF files of either class and byte order with the program headers a case asks for.

#include <cstdint>
#include <string>
#include <vector>

namespace tarnlink::test {

using Bytes = std::vector<uint8_t>;

/// One Intel HEX record with its checksum, ending in "\n".
std::string ihexRecord(uint8_t type, uint16_t address, const Bytes& data);
/// A data record (type 00).
inline std::string ihexData(uint16_t address, const Bytes& data) {
    return ihexRecord(0x00, address, data);
}
/// An extended linear (04) or segment (02) address record.
inline std::string ihexUpper(uint8_t type, uint16_t value) {
    return ihexRecord(type, 0, {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}
inline const std::string IHEX_END = ":00000001FF\n";

/// One S-record of type `type` (0 to 9) with an address of the type's width and its
/// checksum, ending in "\n".
std::string srecRecord(int type, uint32_t address, const Bytes& data);

/// A program header of a test ELF file. `offset` 0: the data is put after the headers.
struct ElfSegment {
    uint32_t type = 1;  // PT_LOAD
    uint64_t paddr = 0;
    uint64_t vaddr = 0;
    Bytes data;
    uint64_t memBytes = 0;            // 0: as many as data
    uint64_t offset = 0;              // 0: where the data lands
    uint64_t fileBytes = UINT64_MAX;  // UINT64_MAX: data.size()
};

/// An ELF executable of the class and byte order given, holding `segments`.
Bytes elfFile(bool is64, bool bigEndian, const std::vector<ElfSegment>& segments);

/// The bytes of a text.
inline Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

}  // namespace tarnlink::test
