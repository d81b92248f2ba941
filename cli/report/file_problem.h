#pragma once
// Why the engine could not write a crypt's output: the line under "Unable to open image
// file" that names the path and the system's reason. (An image is read before the engine
// starts; image/ says what is wrong with it.)

#include <string>

#include "cli/report/result_report.h"

namespace tarnlink {

/// For a crypt that ended in IMAGE_FILE_ERROR: why OUTPUT cannot be created. Empty for any
/// other result and for a load or verify. Looks at the path again (leaves no file behind).
std::string fileProblemText(TransferKind kind, uint8_t result, const std::string& path);

}  // namespace tarnlink
