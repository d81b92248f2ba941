// libFuzzer entry of the ELF parser; the body is shared with the corpus replay test.
#include "tests/image/image_parser_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return tarnlink::fuzz::parseOneImage(tarnlink::ImageFormat::ELF, data, size);
}
