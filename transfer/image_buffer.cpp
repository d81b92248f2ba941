#include "transfer/image_buffer.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

namespace tarnlink {

namespace {

constexpr size_t READ_CHUNK = 512;

// The size in bytes, taken in 64 bits so that a file of 4 GiB or more cannot wrap into a
// small image. -1 for a stream that is not a regular file or cannot seek: a pipe or a
// character device has no size, and reading it as "0 bytes so far" would invent one.
int64_t streamByteSize(std::FILE* stream) {
    struct stat info {};
    if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode)) {
        return -1;
    }
    if (fseeko(stream, 0, SEEK_END) != 0) {
        return -1;
    }
    const off_t end = ftello(stream);
    return end < 0 ? -1 : static_cast<int64_t>(end);
}

int32_t wordsForBytes(int64_t bytes) {
    if (bytes <= 0) {
        return 0;
    }
    const int64_t words = bytes / 4 + (bytes % 4 != 0 ? 1 : 0);
    return words > IMAGE_MAX_WORDS ? static_cast<int32_t>(IMAGE_MAX_WORDS + 1)
                                   : static_cast<int32_t>(words);
}

// The buffer of an image of `words` words: whole blocks.
size_t bufferBytesFor(int32_t words) {
    return (static_cast<size_t>(words) * 4 + BLOCK_BYTES - 1) / BLOCK_BYTES * BLOCK_BYTES;
}

}  // namespace

int32_t imageWordCount(std::FILE* stream) {
    if (stream == nullptr) {
        return 0;
    }
    return wordsForBytes(streamByteSize(stream));
}

uint8_t loadImage(TransferContext& ctx) {
    std::FILE* file = ctx.file.load();
    if (file == nullptr) {
        return BAD_IMAGE_FILE;
    }
    const int64_t fileBytes = streamByteSize(file);
    const int32_t words = wordsForBytes(fileBytes);
    if (words == 0 || static_cast<uint32_t>(words) > IMAGE_MAX_WORDS) {
        return BAD_IMAGE_FILE;
    }
    ctx.imageWords.store(static_cast<uint16_t>(words));

    const size_t bufferBytes = bufferBytesFor(words);
    auto* buffer = static_cast<uint8_t*>(std::malloc(bufferBytes));
    if (buffer == nullptr) {
        return GENERAL_FAILURE;
    }
    if (fseeko(file, 0, SEEK_SET) != 0) {
        std::free(buffer);
        return BAD_IMAGE_FILE;
    }

    // Read in 512-byte chunks until one comes up short. The last chunk may ask for less
    // than 512 so that a file grown since its size was taken cannot overrun the buffer.
    size_t filled = 0;
    for (;;) {
        const size_t want = std::min(READ_CHUNK, bufferBytes - filled);
        const size_t got = want == 0 ? 0 : std::fread(buffer + filled, 1, want, file);
        filled += got;
        if (got < READ_CHUNK) {
            break;
        }
    }
    // A read error or a file cut while we read it: never send an image that is partly
    // made up.
    if (static_cast<int64_t>(filled) != fileBytes || std::ferror(file)) {
        std::free(buffer);
        return BAD_IMAGE_FILE;
    }
    std::memset(buffer + filled, 0xFF, bufferBytes - filled);
    ctx.image.store(buffer);
    return SUCCESS;
}

uint8_t loadImageBytes(TransferContext& ctx, const uint8_t* bytes, size_t size) {
    const int32_t words =
        size > IMAGE_MAX_WORDS * 4u ? 0 : wordsForBytes(static_cast<int64_t>(size));
    if (bytes == nullptr || words == 0) {
        return BAD_IMAGE_FILE;
    }
    ctx.imageWords.store(static_cast<uint16_t>(words));
    const size_t bufferBytes = bufferBytesFor(words);
    auto* buffer = static_cast<uint8_t*>(std::malloc(bufferBytes));
    if (buffer == nullptr) {
        return GENERAL_FAILURE;
    }
    std::memcpy(buffer, bytes, size);
    std::memset(buffer + size, 0xFF, bufferBytes - size);
    ctx.image.store(buffer);
    return SUCCESS;
}

const uint8_t* nextWriteBlock(TransferContext& ctx) {
    const auto index = static_cast<uint16_t>(ctx.packetIndex.load() + 1);
    ctx.packetIndex.store(index);
    ctx.address.store(index == 0 ? uint16_t{0} : static_cast<uint16_t>(ctx.address.load() + 16));
    return ctx.image.load() + static_cast<size_t>(index) * BLOCK_BYTES;
}

}  // namespace tarnlink
