#pragma once
// A firmware file turned into the flat image that goes onto the target: read whole (never
// more than its format's limit), its format chosen, parsed and placed from the base.
// Everything is checked before anything is sent, so a file that cannot be read as a whole
// never reaches a board.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/flat_image.h"
#include "image/image_format.h"

namespace tarnlink {

/// What to make of the file: its format (AUTO: by name and content) and the address of the
/// flat image's first byte (none: 0, and a file far above 0 is refused).
struct ImageRequest {
    ImageFormat format = ImageFormat::AUTO;
    std::optional<uint64_t> base;
};

/// Why there is no image: the file could not be opened (a missing file, a folder, no
/// permission), or what it holds is not an image (empty, too large, unreadable, broken).
enum class ImageFailure : uint8_t { NONE, CANNOT_OPEN, BAD_CONTENT };

struct LoadedImage {
    ImageFailure failure = ImageFailure::NONE;
    /// "<file>: <why>" ("firmware.hex: line 6: checksum is 0x3F, the line's bytes need
    /// 0x41"); the file as it was given, "standard input" for "-". Empty on success.
    std::string error;
    /// The format the file was read in (also when it failed, once known).
    ImageFormat format = ImageFormat::BIN;
    /// Every byte read from the file: what its digest describes.
    std::vector<uint8_t> source;
    /// The image for the target, 1 to FLAT_IMAGE_MAX_BYTES bytes, and its base.
    FlatImage flat;

    bool ok() const { return failure == ImageFailure::NONE; }
};

/// Reads `path` ("-": the standard input) to its end or one byte past its format's limit
/// (then it is too large, at once: a device that never ends stops there), and converts it.
/// Any thread; it blocks only as long as the source does (a pipe, a FIFO without a writer).
LoadedImage loadImageFile(const std::string& path, const ImageRequest& request);

/// Converts bytes already read. `path` names the file in the messages and, for AUTO,
/// chooses the format by its extension.
LoadedImage convertImage(const std::string& path, std::vector<uint8_t> source,
                         const ImageRequest& request);

/// "standard input" for "-", else `path`.
std::string imageDisplayName(const std::string& path);

}  // namespace tarnlink
