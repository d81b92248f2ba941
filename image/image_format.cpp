#include "image/image_format.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "image/elf_image.h"
#include "image/flat_image.h"

namespace tarnlink {

namespace {

// Intel HEX with one data byte a record, the most a tool writes per byte (15 characters
// with CR LF), is 3.75 MiB for the largest image; 16 MiB leaves room and still ends a
// wrong file (a device, a disk image) at once.
constexpr size_t TEXT_SOURCE_LIMIT = 16u << 20;
// Symbols and debugging information make an ELF file far larger than what it loads.
constexpr size_t ELF_SOURCE_LIMIT = 64u << 20;

struct NamedFormat {
    ImageFormat format;
    const char* name;
};

constexpr NamedFormat FORMAT_NAMES[] = {
    {ImageFormat::AUTO, "auto"}, {ImageFormat::BIN, "bin"}, {ImageFormat::IHEX, "ihex"},
    {ImageFormat::SREC, "srec"}, {ImageFormat::ELF, "elf"},
};

struct Extension {
    const char* suffix;
    ImageFormat format;
};

constexpr Extension EXTENSIONS[] = {
    {".hex", ImageFormat::IHEX},  {".ihx", ImageFormat::IHEX}, {".ihex", ImageFormat::IHEX},
    {".srec", ImageFormat::SREC}, {".s19", ImageFormat::SREC}, {".s28", ImageFormat::SREC},
    {".s37", ImageFormat::SREC},  {".mot", ImageFormat::SREC}, {".elf", ImageFormat::ELF},
    {".axf", ImageFormat::ELF},   {".out", ImageFormat::ELF},
};

std::string lowerExtension(std::string_view path) {
    const size_t slash = path.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return {};
    }
    std::string extension(name.substr(dot));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// The standard input under the names a shell gives it.
bool isStandardInputName(std::string_view path) {
    return path == "-" || path == "/dev/stdin" || path.rfind("/dev/fd/", 0) == 0 ||
           path.rfind("/proc/self/fd/", 0) == 0;
}

}  // namespace

const char* imageFormatName(ImageFormat format) {
    for (const NamedFormat& f : FORMAT_NAMES) {
        if (f.format == format) {
            return f.name;
        }
    }
    return "";
}

std::optional<ImageFormat> imageFormatFromName(std::string_view name) {
    for (const NamedFormat& f : FORMAT_NAMES) {
        if (name == f.name) {
            return f.format;
        }
    }
    return std::nullopt;
}

FormatChoice chooseImageFormat(ImageFormat requested, std::string_view path, const uint8_t* head,
                               size_t headSize) {
    if (requested != ImageFormat::AUTO) {
        return {requested, false};
    }
    if (hasElfMagic(head, headSize)) {
        return {ImageFormat::ELF, false};
    }
    const std::string extension = lowerExtension(path);
    for (const Extension& e : EXTENSIONS) {
        if (extension == e.suffix) {
            return {e.format, true};
        }
    }
    // The standard input (or a pipe named by its descriptor) has no name to go by: text that opens
    // as a HEX or S-record line is taken for one, and an error in it says how to send it raw after
    // all.
    if (isStandardInputName(path) && headSize >= 2) {
        if (head[0] == ':' && std::isxdigit(head[1])) {
            return {ImageFormat::IHEX, true};
        }
        if (head[0] == 'S' && head[1] >= '0' && head[1] <= '9') {
            return {ImageFormat::SREC, true};
        }
    }
    return {ImageFormat::BIN, false};
}

size_t sourceLimit(ImageFormat format) {
    switch (format) {
        case ImageFormat::IHEX:
        case ImageFormat::SREC:
            return TEXT_SOURCE_LIMIT;
        case ImageFormat::ELF:
            return ELF_SOURCE_LIMIT;
        default:
            return FLAT_IMAGE_MAX_BYTES;
    }
}

}  // namespace tarnlink
