#include "image/image_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "image/elf_image.h"
#include "image/image_source.h"
#include "image/intel_hex.h"
#include "image/srecord.h"

namespace tarnlink {

namespace {

constexpr size_t READ_CHUNK = 64 * 1024;

const char* formatTitle(ImageFormat format) {
    switch (format) {
        case ImageFormat::IHEX:
            return "an Intel HEX file";
        case ImageFormat::SREC:
            return "an S-record file";
        case ImageFormat::ELF:
            return "an ELF file";
        default:
            return "an image";
    }
}

// Appends from `stream` until its end or until `bytes` holds `limit` bytes. False on a
// read error, with `*error` set.
bool readUpTo(std::FILE* stream, std::vector<uint8_t>& bytes, size_t limit, int* error) {
    while (bytes.size() < limit) {
        const size_t want = std::min(READ_CHUNK, limit - bytes.size());
        const size_t had = bytes.size();
        bytes.resize(had + want);
        errno = 0;
        const size_t got = std::fread(bytes.data() + had, 1, want, stream);
        bytes.resize(had + got);
        if (got < want) {
            if (std::ferror(stream)) {
                *error = errno != 0 ? errno : EIO;
                return false;
            }
            break;
        }
    }
    return true;
}

LoadedImage failed(ImageFailure failure, std::string error, ImageFormat format) {
    LoadedImage image;
    image.failure = failure;
    image.error = std::move(error);
    image.format = format;
    return image;
}

std::string tooLargeText(const std::string& name, ImageFormat format, size_t limit,
                         std::optional<uint64_t> knownSize) {
    const std::string size = knownSize && *knownSize > limit
                                 ? std::to_string(*knownSize) + " bytes"
                                 : "more than " + groupedNumber(limit) + " bytes";
    if (format == ImageFormat::BIN) {
        return name + ": " + size + "; an image holds at most " + groupedNumber(limit);
    }
    return name + ": " + size + "; " + formatTitle(format) + " is read up to " +
           groupedNumber(limit);
}

std::string parse(ImageFormat format, const std::vector<uint8_t>& source, ImageSegments& out) {
    switch (format) {
        case ImageFormat::IHEX:
            return parseIntelHex(source.data(), source.size(), out);
        case ImageFormat::SREC:
            return parseSRecord(source.data(), source.size(), out);
        default:
            return parseElf(source.data(), source.size(), out);
    }
}

LoadedImage convertChosen(const std::string& path, std::vector<uint8_t> source, FormatChoice choice,
                          std::optional<uint64_t> base) {
    const std::string name = imageDisplayName(path);
    if (source.empty()) {
        return failed(ImageFailure::BAD_CONTENT, name + ": the file is empty", choice.format);
    }
    if (source.size() > sourceLimit(choice.format)) {
        return failed(ImageFailure::BAD_CONTENT,
                      tooLargeText(name, choice.format, sourceLimit(choice.format), std::nullopt),
                      choice.format);
    }
    LoadedImage image;
    image.format = choice.format;
    if (choice.format == ImageFormat::BIN) {
        // A raw binary is the flash itself, nothing in it interpreted.
        image.flat.bytes = source;
        image.flat.base = base.value_or(0);
        image.source = std::move(source);
        return image;
    }
    ImageSegments pieces;
    if (std::string bad = parse(choice.format, source, pieces); !bad.empty()) {
        // Chosen by the name alone, the file may well be a raw binary named .hex.
        const char* hint = choice.byName ? " (to flash the file as it is, give --format bin)" : "";
        return failed(ImageFailure::BAD_CONTENT, name + ": " + bad + hint, choice.format);
    }
    if (std::string bad = flattenSegments(pieces, base, image.flat); !bad.empty()) {
        return failed(ImageFailure::BAD_CONTENT, name + ": " + bad, choice.format);
    }
    image.source = std::move(source);
    return image;
}

}  // namespace

std::string imageDisplayName(const std::string& path) {
    return path == "-" ? std::string("standard input") : path;
}

LoadedImage convertImage(const std::string& path, std::vector<uint8_t> source,
                         const ImageRequest& request) {
    const FormatChoice choice =
        chooseImageFormat(request.format, path, source.data(), source.size());
    return convertChosen(path, std::move(source), choice, request.base);
}

LoadedImage loadImageFile(const std::string& path, const ImageRequest& request) {
    const std::string name = imageDisplayName(path);
    int error = 0;
    std::FILE* stream = openImageSource(path, &error);
    if (stream == nullptr) {
        return failed(ImageFailure::CANNOT_OPEN, name + ": " + std::strerror(error),
                      request.format);
    }
    const std::optional<uint64_t> knownSize = regularFileSize(stream);

    // The format shows in the first bytes (an ELF's magic) and the name; what it is decides
    // how much more may be read. Reading one byte past the limit tells "too large" from
    // "exactly the limit" without waiting for the end of an endless source.
    std::vector<uint8_t> source;
    bool read = readUpTo(stream, source, FLAT_IMAGE_MAX_BYTES + 1, &error);
    const FormatChoice choice =
        chooseImageFormat(request.format, path, source.data(), source.size());
    const size_t limit = sourceLimit(choice.format);
    // A file given as ELF without the magic is refused by its first bytes alone.
    const bool refusedByHead =
        choice.format == ImageFormat::ELF && !hasElfMagic(source.data(), source.size());
    if (read && !refusedByHead && source.size() == FLAT_IMAGE_MAX_BYTES + 1 &&
        source.size() <= limit && !(knownSize && *knownSize > limit)) {
        read = readUpTo(stream, source, limit + 1, &error);
    }
    closeImageSource(stream);
    if (!read) {
        return failed(ImageFailure::BAD_CONTENT,
                      name + ": could not be read: " + std::strerror(error), choice.format);
    }
    if (source.size() > limit || (knownSize && *knownSize > limit)) {
        return failed(ImageFailure::BAD_CONTENT,
                      tooLargeText(name, choice.format, limit, knownSize), choice.format);
    }
    return convertChosen(path, std::move(source), choice, request.base);
}

}  // namespace tarnlink
