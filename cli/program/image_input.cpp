#include "cli/program/image_input.h"

#include <filesystem>

#include "cli/report/sha256.h"
#include "cli/serial/serial_plan.h"
#include "platform/utf8_path.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

namespace {

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

ImageInput readImageInput(const CliOptions& options) {
    ImageInput input;
    input.loaded = loadImageFile(options.file, options.image);
    if (input.loaded.ok()) {
        input.source.bytes = input.loaded.source.size();
        input.source.sha256 = sha256Of(input.loaded.source);
        input.imageSha256 = sha256Of(input.loaded.flat.bytes);
    }
    return input;
}

uint8_t imageFailureResult(const LoadedImage& loaded) {
    return loaded.failure == ImageFailure::CANNOT_OPEN ? uint8_t{IMAGE_FILE_ERROR}
                                                       : uint8_t{BAD_IMAGE_FILE};
}

bool isOneTimeSource(const std::string& path) {
    if (path == "-" || path == "/dev/stdin" || startsWith(path, "/dev/fd/") ||
        startsWith(path, "/proc/self/fd/")) {
        return true;
    }
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(pathFromUtf8(path), error);
    // A path that does not exist is no stream: reading it fails as for one board.
    return std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
}

std::string writeBoardSerial(const SerialRequest& request, ImageInput& image, std::string* serial) {
    std::string problem;
    const std::optional<SerialValue> value = takeSerialValue(request.source, &problem);
    if (!value) {
        return "no value for this board: " + problem;
    }
    // Taken, so burned from here on: the board's report names it whatever happens next.
    *serial = value->text;
    problem = placeSerial(image.loaded.flat, *request.at, *value);
    if (!problem.empty()) {
        return problem;
    }
    image.imageSha256 = sha256Of(image.loaded.flat.bytes);
    return "";
}

void describeImage(const ImageInput& image, TransferReport& report) {
    // A file that could not be opened has no format yet: null rather than "auto".
    if (image.loaded.format != ImageFormat::AUTO) {
        report.format = imageFormatName(image.loaded.format);
    }
    if (!image.loaded.ok()) {
        return;
    }
    report.digest = image.source;
    report.imageSha256 = image.imageSha256;
    report.base = image.loaded.flat.base;
}

}  // namespace tarnlink
