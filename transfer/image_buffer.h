#pragma once
// The download's image buffer: the image file's bytes padded with 0xFF to a whole number
// of 64-byte blocks, or an image held in memory padded the same way. The file's run on the
// download worker's thread.

#include <cstdint>
#include <cstdio>

#include "transfer/transfer_context.h"

namespace tarnlink {

/// Length of `stream` in 4-byte words, a last partial word counted whole; leaves the
/// position at the end. 0 for a null stream or one that cannot seek or tell its size;
/// IMAGE_MAX_WORDS + 1 for anything longer than IMAGE_MAX_WORDS words.
int32_t imageWordCount(std::FILE* stream);

/// Reads the whole of ctx.file into a new buffer (malloc; the worker frees it) and sets
/// ctx.imageWords and ctx.image. SUCCESS, BAD_IMAGE_FILE (empty, too long, unsized or
/// short read: nothing is kept) or GENERAL_FAILURE (no memory). The file stays open.
uint8_t loadImage(TransferContext& ctx);

/// Copies `size` bytes of an image held in memory into a new buffer (malloc; the worker
/// frees it) padded as a file's would be, and sets ctx.imageWords and ctx.image. The same
/// limits and results as loadImage: SUCCESS, BAD_IMAGE_FILE (0 or more than 262,140 bytes:
/// nothing is kept) or GENERAL_FAILURE (no memory). Any one thread, before the worker runs.
uint8_t loadImageBytes(TransferContext& ctx, const uint8_t* bytes, size_t size);

/// Advances ctx.packetIndex and ctx.address to the next block and returns its 64 bytes
/// inside ctx.image. Preset packetIndex to 0xFFFF and address to 0 before the first call.
const uint8_t* nextWriteBlock(TransferContext& ctx);

}  // namespace tarnlink
