#pragma once
// Why the engine could not use a file: the line under "Unable to open image file" or
// "Bad image file" that names the path and the system's reason.

#include <string>

#include "cli/report/result_report.h"

namespace tarnlink {

/// For a load that ended in IMAGE_FILE_ERROR or BAD_IMAGE_FILE: "<image>: No such file or
/// directory", "<image>: the file is empty", "<image>: 300000 bytes; an image holds at
/// most 262,140". For a crypt that ended in IMAGE_FILE_ERROR: why OUTPUT cannot be
/// created. Empty for any other result. Looks at the file again (never creates it).
std::string fileProblemText(TransferKind kind, uint8_t result, const std::string& path);

}  // namespace tarnlink
