#include "image/elf_image.h"

#include <cstring>

namespace tarnlink {

namespace {

constexpr uint8_t ELF_MAGIC[4] = {0x7F, 'E', 'L', 'F'};
constexpr size_t EI_CLASS = 4;
constexpr size_t EI_DATA = 5;
constexpr uint8_t ELFCLASS32 = 1;
constexpr uint8_t ELFCLASS64 = 2;
constexpr uint8_t ELFDATA2LSB = 1;
constexpr uint8_t ELFDATA2MSB = 2;
constexpr uint32_t PT_LOAD = 1;
// e_phnum's escape: the real count would sit in section header 0. No firmware has so many.
constexpr uint16_t PN_XNUM = 0xFFFF;

// Where the fields sit in the file header and in a program header of each class.
struct Layout {
    size_t headerBytes;
    size_t phoff, phoffBytes, phentsize, phnum;
    size_t programHeaderBytes;
    size_t type, offset, paddr, filesz, wordBytes;
};

constexpr Layout LAYOUT_32 = {52, 28, 4, 42, 44, 32, 0, 4, 12, 16, 4};
constexpr Layout LAYOUT_64 = {64, 32, 8, 54, 56, 56, 0, 8, 24, 32, 8};

// Reads unsigned fields of 2, 4 or 8 bytes in the file's byte order.
struct FieldReader {
    const uint8_t* data;
    bool bigEndian;

    uint64_t read(size_t at, size_t bytes) const {
        uint64_t value = 0;
        for (size_t i = 0; i < bytes; ++i) {
            const uint8_t b = data[at + (bigEndian ? i : bytes - 1 - i)];
            value = value << 8 | b;
        }
        return value;
    }
};

// True when [offset, offset + length) lies inside a file of `size` bytes.
bool inside(uint64_t offset, uint64_t length, size_t size) {
    return offset <= size && length <= size - offset;
}

}  // namespace

bool hasElfMagic(const uint8_t* data, size_t size) {
    return size >= sizeof ELF_MAGIC && std::memcmp(data, ELF_MAGIC, sizeof ELF_MAGIC) == 0;
}

std::string parseElf(const uint8_t* data, size_t size, ImageSegments& out) {
    if (!hasElfMagic(data, size)) {
        return "not an ELF file: it does not start with 0x7F 'E' 'L' 'F'";
    }
    if (size <= EI_DATA) {
        return "the ELF header is cut short";
    }
    const uint8_t elfClass = data[EI_CLASS];
    const uint8_t byteOrder = data[EI_DATA];
    if (elfClass != ELFCLASS32 && elfClass != ELFCLASS64) {
        return "ELF class " + std::to_string(elfClass) + " is neither 32-bit (1) nor 64-bit (2)";
    }
    if (byteOrder != ELFDATA2LSB && byteOrder != ELFDATA2MSB) {
        return "ELF byte order " + std::to_string(byteOrder) +
               " is neither little-endian (1) nor big-endian (2)";
    }
    const Layout& layout = elfClass == ELFCLASS32 ? LAYOUT_32 : LAYOUT_64;
    if (size < layout.headerBytes) {
        return "the ELF header is cut short";
    }
    const FieldReader field{data, byteOrder == ELFDATA2MSB};
    const uint64_t phoff = field.read(layout.phoff, layout.phoffBytes);
    const uint64_t entrySize = field.read(layout.phentsize, 2);
    const uint64_t entries = field.read(layout.phnum, 2);
    if (entries == 0) {
        return "no program headers: an object file, not linked";
    }
    if (entries == PN_XNUM) {
        return "65,535 program headers or more";
    }
    if (entrySize < layout.programHeaderBytes) {
        return "program headers of " + std::to_string(entrySize) + " bytes, " +
               std::to_string(layout.programHeaderBytes) + " needed";
    }
    if (!inside(phoff, entrySize * entries, size)) {
        return "the program headers at file offset " + hexAddress(phoff) +
               " lie past the file's end";
    }

    bool loadable = false;
    const size_t before = out.segments.size();
    for (uint64_t i = 0; i < entries; ++i) {
        const size_t header = static_cast<size_t>(phoff + i * entrySize);
        if (field.read(header + layout.type, 4) != PT_LOAD) {
            continue;
        }
        loadable = true;
        const uint64_t offset = field.read(header + layout.offset, layout.wordBytes);
        const uint64_t address = field.read(header + layout.paddr, layout.wordBytes);
        const uint64_t fileBytes = field.read(header + layout.filesz, layout.wordBytes);
        if (!inside(offset, fileBytes, size)) {
            return "segment " + std::to_string(i) + ": its " + std::to_string(fileBytes) +
                   " bytes at file offset " + hexAddress(offset) + " lie past the file's end";
        }
        out.add(address, data + offset, static_cast<size_t>(fileBytes),
                {SegmentOrigin::SEGMENT, static_cast<uint32_t>(i)});
    }
    if (out.segments.size() == before) {
        return loadable ? "no loadable segment holds data" : "no loadable segment";
    }
    return {};
}

}  // namespace tarnlink
