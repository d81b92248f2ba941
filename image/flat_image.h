#pragma once
// The flash as a firmware file describes it: pieces of data at addresses (ImageSegments),
// and the one contiguous image that goes onto the target (FlatImage). The flat image starts
// at a base address; gaps between the pieces are erased flash (0xFF); it ends at the
// highest address written.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnlink {

/// The largest image the boot loader takes: 65,535 words of 4 bytes.
inline constexpr size_t FLAT_IMAGE_MAX_BYTES = 262140;

/// Where a piece of data came from, so that an error can point at it: a line of a text
/// file (counted from 1) or a program header of an ELF file (counted from 0, as readelf does).
struct SegmentOrigin {
    enum Kind : uint8_t { LINE, SEGMENT };
    Kind kind = LINE;
    uint32_t number = 0;
};

/// One piece: `size` bytes (never 0) from `offset` of ImageSegments::bytes, for `address`
/// onwards.
struct ImageSegment {
    uint64_t address = 0;
    size_t offset = 0;
    size_t size = 0;
    SegmentOrigin origin;
};

/// The pieces of a file in file order, their bytes kept back to back.
struct ImageSegments {
    std::vector<ImageSegment> segments;
    std::vector<uint8_t> bytes;

    /// Appends a piece; one of 0 bytes is left out.
    /// Appends a piece; one of 0 bytes is left out.
    void add(uint64_t address, const uint8_t* data, size_t size, SegmentOrigin origin);
};

/// The image as it goes onto the target: byte i belongs at flash address base + i.
struct FlatImage {
    std::vector<uint8_t> bytes;
    uint64_t base = 0;
};

/// Places every segment into one flat image. `base` is the address of the image's first
/// byte; without one it is 0, and a file whose lowest address lies beyond the largest
/// image is refused with the --base that fits it. Refused too: a segment below the base or
/// past FLAT_IMAGE_MAX_BYTES above it, and two segments that give one address different
/// bytes. Returns the reason ("line 6: address 0x00000100 was given other data by line
/// 3"), or empty when `image` holds the result.
std::string flattenSegments(const ImageSegments& pieces, std::optional<uint64_t> base,
                            FlatImage& image);

/// Writes `size` bytes at `offset` of the image, which grows with 0xFF when the offset lies
/// past its end. Returns why not (the bytes would end past the largest image), or empty.
std::string placeBytes(FlatImage& image, uint64_t offset, const uint8_t* data, size_t size);

/// The address `text` names: "0x" and hex digits, or decimal digits. None when it is
/// neither or does not fit 64 bits.
std::optional<uint64_t> parseAddress(const std::string& text);

/// "0x08000000": at least eight hex digits, upper case.
std::string hexAddress(uint64_t address);

/// "262,140": digits grouped by commas.
std::string groupedNumber(uint64_t value);

}  // namespace tarnlink
