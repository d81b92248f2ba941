#include "platform/utf8_file.h"

namespace tarnlink {

// A Linux file name is bytes; a UTF-8 name is handed on as it is.
std::FILE* openUtf8File(const char* path, const char* mode) {
    return std::fopen(path, mode);
}

}  // namespace tarnlink
