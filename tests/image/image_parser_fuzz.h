#pragma once
// The body of the image parsers' fuzzers, shared by the fuzzers and the corpus replay test.

#include <cstddef>
#include <cstdint>

#include "image/image_format.h"

namespace tarnlink::fuzz {

/// Parses one input in `format` and places what it gives, with and without a base; aborts
/// on any broken invariant. Test thread only.
int parseOneImage(ImageFormat format, const uint8_t* data, size_t size);

/// Inputs so far that gave a flat image.
extern size_t g_imagesMade;

}  // namespace tarnlink::fuzz
