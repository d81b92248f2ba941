// ELF files of both classes and byte orders, good and broken, through the whole conversion.
#include <gtest/gtest.h>

#include <functional>

#include "image/elf_image.h"
#include "tests/image/image_case.h"

namespace tarnlink::test {
namespace {

using ::testing::Combine;
using ::testing::Values;
using ::testing::ValuesIn;

struct ElfKind {
    const char* name;
    bool is64;
    bool bigEndian;
};

constexpr ElfKind KINDS[] = {
    {"Elf32LittleEndian", false, false},
    {"Elf32BigEndian", false, true},
    {"Elf64LittleEndian", true, false},
    {"Elf64BigEndian", true, true},
};

constexpr uint32_t PT_NOTE = 4;
constexpr uint64_t FLASH = 0x08000000;

// Writes a header field of `bytes` width at `at` in the file's byte order.
void poke(Bytes& file, const ElfKind& kind, size_t at, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
        file[at + (kind.bigEndian ? bytes - 1 - i : i)] = static_cast<uint8_t>(value >> (8 * i));
    }
}

size_t phoffAt(const ElfKind& k) {
    return k.is64 ? 32 : 28;
}
size_t phentsizeAt(const ElfKind& k) {
    return k.is64 ? 54 : 42;
}
size_t phnumAt(const ElfKind& k) {
    return k.is64 ? 56 : 44;
}

ElfSegment load(uint64_t paddr, Bytes data) {
    ElfSegment s;
    s.paddr = paddr;
    s.vaddr = paddr;
    s.data = std::move(data);
    return s;
}

class ElfKindTest : public ::testing::TestWithParam<ElfKind> {};

// Code in flash; a note that is not loaded; initialised data that runs in RAM but is stored
// in flash after a gap, with a zeroed tail that takes no flash; a segment of zeroes only.
TEST_P(ElfKindTest, LoadableSegmentsWithFileBytesArePlacedByPhysicalAddress) {
    const ElfKind& kind = GetParam();
    ElfSegment note = load(FLASH + 8, {9, 9});
    note.type = PT_NOTE;
    ElfSegment data = load(FLASH + 0x10, {5, 6});
    data.vaddr = 0x20000000;
    data.memBytes = 16;
    ElfSegment zeroed = load(FLASH + 0x100, {});
    zeroed.memBytes = 64;
    const Bytes file =
        elfFile(kind.is64, kind.bigEndian, {load(FLASH, {1, 2, 3, 4}), note, data, zeroed});

    const LoadedImage image = convertImage("firmware.elf", file, {ImageFormat::ELF, FLASH});
    ASSERT_TRUE(image.ok()) << image.error;
    EXPECT_EQ(image.flat.bytes, join({{1, 2, 3, 4}, erased(12), {5, 6}}));
    EXPECT_EQ(image.flat.base, FLASH);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ElfKindTest, ValuesIn(KINDS),
                         [](const auto& info) { return std::string(info.param.name); });

struct BrokenElf {
    const char* name;
    std::function<Bytes(const ElfKind&)> file;
    std::optional<uint64_t> base;
    std::function<std::string(const ElfKind&)> error;  // after "firmware.elf: "
};

Bytes oneSegment(const ElfKind& k) {
    return elfFile(k.is64, k.bigEndian, {load(FLASH, {1, 2, 3, 4})});
}

Bytes changed(Bytes file, const std::function<void(Bytes&)>& change) {
    change(file);
    return file;
}

std::function<std::string(const ElfKind&)> says(std::string text) {
    return [text](const ElfKind&) { return text; };
}

const BrokenElf BROKEN[] = {
    {"NoMagic",
     [](const ElfKind& k) { return changed(oneSegment(k), [](Bytes& f) { f[3] = 'X'; }); }, FLASH,
     says("not an ELF file: it does not start with 0x7F 'E' 'L' 'F'")},
    {"UnknownClass",
     [](const ElfKind& k) { return changed(oneSegment(k), [](Bytes& f) { f[4] = 3; }); }, FLASH,
     says("ELF class 3 is neither 32-bit (1) nor 64-bit (2)")},
    {"UnknownByteOrder",
     [](const ElfKind& k) { return changed(oneSegment(k), [](Bytes& f) { f[5] = 0; }); }, FLASH,
     says("ELF byte order 0 is neither little-endian (1) nor big-endian (2)")},
    {"HeaderCutShort",
     [](const ElfKind& k) { return changed(oneSegment(k), [](Bytes& f) { f.resize(40); }); }, FLASH,
     says("the ELF header is cut short")},
    {"NoProgramHeaders",
     [](const ElfKind& k) {
         return changed(oneSegment(k), [&k](Bytes& f) { poke(f, k, phnumAt(k), 0, 2); });
     },
     FLASH, says("no program headers: an object file, not linked")},
    {"ProgramHeaderCountEscape",
     [](const ElfKind& k) {
         return changed(oneSegment(k), [&k](Bytes& f) { poke(f, k, phnumAt(k), 0xFFFF, 2); });
     },
     FLASH, says("65,535 program headers or more")},
    {"ProgramHeadersTooSmall",
     [](const ElfKind& k) {
         return changed(oneSegment(k), [&k](Bytes& f) { poke(f, k, phentsizeAt(k), 16, 2); });
     },
     FLASH,
     [](const ElfKind& k) {
         return std::string("program headers of 16 bytes, ") + (k.is64 ? "56" : "32") + " needed";
     }},
    {"ProgramHeadersPastTheEnd",
     [](const ElfKind& k) {
         return changed(oneSegment(k),
                        [&k](Bytes& f) { poke(f, k, phoffAt(k), 0x1000, k.is64 ? 8 : 4); });
     },
     FLASH, says("the program headers at file offset 0x00001000 lie past the file's end")},
    {"SegmentPastTheEnd",
     [](const ElfKind& k) {
         ElfSegment s = load(FLASH, {1, 2, 3, 4});
         s.offset = 0x2000;
         return elfFile(k.is64, k.bigEndian, {s});
     },
     FLASH, says("segment 0: its 4 bytes at file offset 0x00002000 lie past the file's end")},
    {"SegmentSizeBeyondTheFile",
     [](const ElfKind& k) {
         ElfSegment s = load(FLASH, {1, 2, 3, 4});
         s.offset = 0x10;
         s.fileBytes = 0xFFFFFFFF;
         return elfFile(k.is64, k.bigEndian, {s});
     },
     FLASH,
     says("segment 0: its 4294967295 bytes at file offset 0x00000010 lie past the file's end")},
    {"OnlyZeroedSegments",
     [](const ElfKind& k) {
         ElfSegment s = load(FLASH, {});
         s.memBytes = 64;
         return elfFile(k.is64, k.bigEndian, {s});
     },
     FLASH, says("no loadable segment holds data")},
    {"NoLoadableSegment",
     [](const ElfKind& k) {
         ElfSegment s = load(FLASH, {1});
         s.type = PT_NOTE;
         return elfFile(k.is64, k.bigEndian, {s});
     },
     FLASH, says("no loadable segment")},
    {"SegmentsOverlapWithOtherData",
     [](const ElfKind& k) {
         return elfFile(k.is64, k.bigEndian, {load(FLASH, {1, 2, 3, 4}), load(FLASH + 2, {3, 5})});
     },
     FLASH, says("segment 1: address 0x08000003 was given other data by segment 0")},
    {"BelowTheBase", oneSegment, FLASH + 0x10,
     says("segment 0: address 0x08000000 lies below the base 0x08000010")},
    {"PastTheLargestImage",
     [](const ElfKind& k) {
         return elfFile(k.is64, k.bigEndian, {load(FLASH, {1}), load(FLASH + 0x40000, {2})});
     },
     FLASH,
     says("segment 1: address 0x08040000 lies past the largest image (262,140 bytes from the "
          "base 0x08000000)")},
    {"FarAbove0WithoutBase", oneSegment, std::nullopt,
     says("the data starts at 0x08000000, far above 0: give the flash's start with --base "
          "0x08000000")},
};

class BrokenElfTest : public ::testing::TestWithParam<std::tuple<BrokenElf, ElfKind>> {};

TEST_P(BrokenElfTest, IsRefusedSayingWhy) {
    const auto& [broken, kind] = GetParam();
    const LoadedImage image =
        convertImage("firmware.elf", broken.file(kind), {ImageFormat::ELF, broken.base});
    EXPECT_EQ(image.failure, ImageFailure::BAD_CONTENT);
    EXPECT_EQ(image.error, "firmware.elf: " + broken.error(kind));
}

INSTANTIATE_TEST_SUITE_P(Files, BrokenElfTest, Combine(ValuesIn(BROKEN), ValuesIn(KINDS)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace tarnlink::test
