#include "image/flat_image.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace tarnlink {

namespace {

std::string placeOf(const SegmentOrigin& origin) {
    const char* kind = origin.kind == SegmentOrigin::LINE ? "line " : "segment ";
    return kind + std::to_string(origin.number);
}

std::string largestImageText(uint64_t base) {
    return "lies past the largest image (" + groupedNumber(FLAT_IMAGE_MAX_BYTES) +
           " bytes from the base " + hexAddress(base) + ")";
}

// The segment before `before` that last wrote `address`: the one whose data is in place.
const ImageSegment* earlierWriter(const ImageSegments& pieces, size_t before, uint64_t address) {
    for (size_t i = before; i-- > 0;) {
        const ImageSegment& s = pieces.segments[i];
        if (address >= s.address && address - s.address < s.size) {
            return &s;
        }
    }
    return nullptr;
}

}  // namespace

void ImageSegments::add(uint64_t address, const uint8_t* data, size_t size, SegmentOrigin origin) {
    if (size == 0) {
        return;
    }
    segments.push_back({address, bytes.size(), size, origin});
    bytes.insert(bytes.end(), data, data + size);
}

std::string flattenSegments(const ImageSegments& pieces, std::optional<uint64_t> base,
                            FlatImage& image) {
    if (pieces.segments.empty()) {
        return "holds no data";
    }
    uint64_t lowest = UINT64_MAX;
    for (const ImageSegment& s : pieces.segments) {
        lowest = std::min(lowest, s.address);
    }
    // Without a base the image starts at 0: a file linked for flash far above it (0x08000000
    // on many parts) would otherwise be refused as too large, which misleads.
    if (!base && lowest >= FLAT_IMAGE_MAX_BYTES) {
        return "the data starts at " + hexAddress(lowest) +
               ", far above 0: give the flash's start with --base " + hexAddress(lowest);
    }
    const uint64_t start = base.value_or(0);

    std::vector<uint8_t> flat(FLAT_IMAGE_MAX_BYTES, 0xFF);
    // Which bytes are written, kept only once a piece comes out of order: while each piece
    // starts at or past the end of all before it (as tools write them), none can overlap.
    std::vector<uint8_t> written;
    size_t end = 0;
    for (size_t i = 0; i < pieces.segments.size(); ++i) {
        const ImageSegment& s = pieces.segments[i];
        const auto where = [&s] { return placeOf(s.origin) + ": address "; };
        if (s.address < start) {
            return where() + hexAddress(s.address) + " lies below the base " + hexAddress(start);
        }
        const uint64_t offset = s.address - start;
        if (offset >= FLAT_IMAGE_MAX_BYTES || s.size > FLAT_IMAGE_MAX_BYTES - offset) {
            const uint64_t first = std::max(s.address, start + FLAT_IMAGE_MAX_BYTES);
            return where() + hexAddress(first) + " " + largestImageText(start);
        }
        const uint8_t* data = pieces.bytes.data() + s.offset;
        const auto at = static_cast<size_t>(offset);
        if (written.empty() && at < end) {
            written.assign(FLAT_IMAGE_MAX_BYTES, 0);
            for (size_t k = 0; k < i; ++k) {
                const ImageSegment& before = pieces.segments[k];
                std::memset(written.data() + (before.address - start), 1, before.size);
            }
        }
        if (written.empty() || std::memchr(written.data() + at, 1, s.size) == nullptr) {
            std::memcpy(flat.data() + at, data, s.size);
        } else {
            for (size_t k = 0; k < s.size; ++k) {
                if (written[at + k] != 0 && flat[at + k] != data[k]) {
                    const ImageSegment* other = earlierWriter(pieces, i, s.address + k);
                    return where() + hexAddress(s.address + k) + " was given other data by " +
                           (other != nullptr ? placeOf(other->origin)
                                             : std::string("an earlier one"));
                }
                flat[at + k] = data[k];
            }
        }
        if (!written.empty()) {
            std::memset(written.data() + at, 1, s.size);
        }
        end = std::max(end, at + s.size);
    }
    flat.resize(end);
    image.bytes = std::move(flat);
    image.base = start;
    return {};
}

std::string placeBytes(FlatImage& image, uint64_t offset, const uint8_t* data, size_t size) {
    if (offset > FLAT_IMAGE_MAX_BYTES || size > FLAT_IMAGE_MAX_BYTES - offset) {
        return "bytes at offset " + hexAddress(offset) + " (address " +
               hexAddress(image.base + offset) + ") would end past the largest image (" +
               groupedNumber(FLAT_IMAGE_MAX_BYTES) + " bytes)";
    }
    const size_t end = static_cast<size_t>(offset) + size;
    if (image.bytes.size() < end) {
        image.bytes.resize(end, 0xFF);
    }
    std::copy(data, data + size, image.bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return {};
}

std::optional<uint64_t> parseAddress(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const size_t first = hex ? 2 : 0;
    if (text.size() <= first || text.size() - first > (hex ? 16u : 20u)) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (size_t i = first; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = unsigned(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = unsigned(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = unsigned(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        const uint64_t radix = hex ? 16 : 10;
        if (value > (UINT64_MAX - digit) / radix) {
            return std::nullopt;
        }
        value = value * radix + digit;
    }
    return value;
}

std::string hexAddress(uint64_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08" PRIX64, address);
    return text;
}

std::string groupedNumber(uint64_t value) {
    std::string digits = std::to_string(value);
    for (size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, ",");
    }
    return digits;
}

}  // namespace tarnlink
