#pragma once
// The image one board gets, the flat image with its own value written in, and what a dry
// run shows of the next boards.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/serial/serial_source.h"
#include "image/flat_image.h"

namespace tarnlink {

/// Writes `value` at byte `at` of `image`, which grows with erased flash (0xFF) when `at`
/// lies past its end. Returns why not (the value would end past the largest image), or
/// empty.
std::string placeSerial(FlatImage& image, uint64_t at, const SerialValue& value);

/// One board of a dry run: its value and its image's SHA-256, or why it would be stopped.
struct SerialPlanRow {
    std::string value;
    std::string imageSha256;
    std::string error;
};

/// The next `count` boards' values and images, taking nothing from `source`. Ends at the
/// first board that would be stopped.
std::vector<SerialPlanRow> planSerials(const SerialSource& source, const FlatImage& image,
                                       uint64_t at, size_t count);

}  // namespace tarnlink
