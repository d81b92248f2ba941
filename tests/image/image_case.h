#pragma once
// One row of a parser's table: a file, the base given, and either the flat image it must
// give or the error it must be refused with.

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "image/image_file.h"
#include "tests/image/image_records.h"

namespace tarnlink::test {

struct ImageCase {
    const char* name;
    Bytes file;
    std::optional<uint64_t> base;
    Bytes flat;         // the expected image, when `error` is empty
    uint64_t flatBase;  // and its base
    std::string error;  // the whole expected message, file name included
};

inline std::ostream& operator<<(std::ostream& out, const ImageCase& c) {
    return out << c.name;
}

/// Converts the case's file, named `path`, in `format` and checks the outcome.
inline void checkImageCase(const ImageCase& c, const std::string& path, ImageFormat format) {
    const LoadedImage image = convertImage(path, c.file, {format, c.base});
    if (c.error.empty()) {
        ASSERT_TRUE(image.ok()) << image.error;
        EXPECT_EQ(image.flat.bytes, c.flat);
        EXPECT_EQ(image.flat.base, c.flatBase);
        EXPECT_EQ(image.source, c.file);
        EXPECT_EQ(image.format, format);
    } else {
        EXPECT_EQ(image.failure, ImageFailure::BAD_CONTENT);
        EXPECT_EQ(image.error, c.error);
        EXPECT_TRUE(image.flat.bytes.empty());
    }
}

/// `count` bytes of 0xFF: erased flash.
inline Bytes erased(size_t count) {
    return Bytes(count, 0xFF);
}

inline Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

}  // namespace tarnlink::test
