// Arbitrary bytes through one parser and the placing of its pieces. Whatever the input, a
// refusal says where (a line, a segment) and an accepted file gives an image that holds
// every piece at its address, erased flash elsewhere, and never more than the largest image.
#include "tests/image/image_parser_fuzz.h"

#include <cstdlib>
#include <string>

#include "image/elf_image.h"
#include "image/flat_image.h"
#include "image/intel_hex.h"
#include "image/srecord.h"

namespace tarnlink::fuzz {

size_t g_imagesMade = 0;

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::string parse(ImageFormat format, const uint8_t* data, size_t size, ImageSegments& out) {
    switch (format) {
        case ImageFormat::IHEX:
            return parseIntelHex(data, size, out);
        case ImageFormat::SREC:
            return parseSRecord(data, size, out);
        default:
            return parseElf(data, size, out);
    }
}

void checkPlaced(const ImageSegments& pieces, std::optional<uint64_t> base) {
    FlatImage image;
    const std::string error = flattenSegments(pieces, base, image);
    if (!error.empty()) {
        check(image.bytes.empty());
        check(startsWith(error, "line ") || startsWith(error, "segment ") ||
              startsWith(error, "the data starts at ") || error == "holds no data");
        return;
    }
    ++g_imagesMade;
    check(!image.bytes.empty() && image.bytes.size() <= FLAT_IMAGE_MAX_BYTES);
    check(image.base == base.value_or(0));
    std::vector<bool> covered(image.bytes.size(), false);
    for (const ImageSegment& s : pieces.segments) {
        check(s.address >= image.base && s.address - image.base + s.size <= image.bytes.size());
        const size_t at = static_cast<size_t>(s.address - image.base);
        for (size_t k = 0; k < s.size; ++k) {
            check(image.bytes[at + k] == pieces.bytes[s.offset + k]);
            covered[at + k] = true;
        }
    }
    for (size_t i = 0; i < covered.size(); ++i) {
        check(covered[i] || image.bytes[i] == 0xFF);
    }
    // The image ends at the highest address written.
    check(covered.back());
}

}  // namespace

int parseOneImage(ImageFormat format, const uint8_t* data, size_t size) {
    ImageSegments pieces;
    const std::string error = parse(format, data, size, pieces);
    if (!error.empty()) {
        if (format == ImageFormat::ELF) {
            check(!startsWith(error, "line "));
        } else {
            check(startsWith(error, "line ") || startsWith(error, "after line "));
        }
        return 0;
    }
    uint64_t lowest = UINT64_MAX;
    for (const ImageSegment& s : pieces.segments) {
        check(s.size > 0 && s.offset + s.size <= pieces.bytes.size());
        lowest = std::min(lowest, s.address);
    }
    checkPlaced(pieces, std::nullopt);
    if (!pieces.segments.empty()) {
        checkPlaced(pieces, lowest);
    }
    return 0;
}

}  // namespace tarnlink::fuzz
