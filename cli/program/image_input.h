#pragma once
// The image of a load or a verify, read once before any port is opened: the file's bytes
// and their digest, the flat image the engine is given and its digest. Nothing reads the
// image's path again, so the record names the bytes that were sent even when the file
// changes during the transfer, and a pipe or a device is read only once.

#include <cstdint>
#include <string>

#include "cli/program/cli_options.h"
#include "cli/report/json_report.h"
#include "image/image_file.h"

namespace tarnlink {

struct ImageInput {
    LoadedImage loaded;       ///< the flat image, or why there is none
    FileDigest source;        ///< size and SHA-256 of the bytes read from the file
    std::string imageSha256;  ///< SHA-256 of the flat image
};

/// Reads options.file (options.image: format and base) to its end and converts it.
ImageInput readImageInput(const CliOptions& options);

/// The result a failed read ends in: IMAGE_FILE_ERROR when the file could not be opened,
/// BAD_IMAGE_FILE when what it holds is no image.
uint8_t imageFailureResult(const LoadedImage& loaded);

/// True for a source that gives its bytes only once: "-", the standard input under another
/// name (/dev/stdin, /dev/fd/N, /proc/self/fd/N), a pipe, a FIFO or a device. A station's
/// boards each read the image, so it takes only a regular file.
bool isOneTimeSource(const std::string& path);

/// Takes the board's next value of `request` and writes it into `image`: its flat image and
/// that image's digest. Returns why this board can have no value (then `image` is as it
/// was), or empty with `*serial` set to the value's text.
std::string writeBoardSerial(const SerialRequest& request, ImageInput& image, std::string* serial);

/// Puts what the report says of the image (its format, both digests, the base) into `report`.
void describeImage(const ImageInput& image, TransferReport& report);

}  // namespace tarnlink
