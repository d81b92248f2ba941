#pragma once
// Which format a firmware file is in: given, or told by its name and its first bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnlink {

enum class ImageFormat : uint8_t { AUTO, BIN, IHEX, SREC, ELF };

/// "auto", "bin", "ihex", "srec" or "elf". Static storage.
const char* imageFormatName(ImageFormat format);

/// The format named `name` (as imageFormatName gives it), or none.
std::optional<ImageFormat> imageFormatFromName(std::string_view name);

/// The format a file is read in, and whether its name alone chose it (then an error in it
/// may be a raw binary with a misleading name).
struct FormatChoice {
    ImageFormat format = ImageFormat::BIN;
    bool byName = false;
};

/// `requested` unless it is AUTO. For AUTO: an ELF by its magic whatever its name; else by
/// the extension (.hex .ihx .ihex: ihex; .srec .s19 .s28 .s37 .mot: srec; .elf .axf .out:
/// elf; any other: bin), in either case. A raw binary is never taken for text by its name;
/// only the standard input ("-", /dev/stdin, /dev/fd/N), which has none, goes by its first bytes:
/// ':' and a hex digit is Intel HEX, 'S' and a digit an S-record (byName set: an error may mean
/// raw).
FormatChoice chooseImageFormat(ImageFormat requested, std::string_view path, const uint8_t* head,
                               size_t headSize);

/// How many bytes of a source file in `format` are read at most: the largest image for a
/// raw binary; more for the text formats, whose files are 2.8 to 4 times the image, and for
/// ELF, whose files also carry symbols and debugging information.
size_t sourceLimit(ImageFormat format);

}  // namespace tarnlink
