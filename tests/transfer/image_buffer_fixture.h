#pragma once
// The image buffer tests' shared fixture: a temporary folder, and a context left clean.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "transfer/image_buffer.h"
#include "transfer/transfer_context.h"

namespace tarnlink::test {

inline std::vector<uint8_t> patterned(size_t size) {
    std::vector<uint8_t> bytes(size);
    // No 0xFF in the data, so a fill byte is never mistaken for a file byte.
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i % 251);
    }
    return bytes;
}

class ImageBufferTest : public ::testing::Test {
  protected:
    void TearDown() override {
        std::free(g_transfer.image.exchange(nullptr));
        if (std::FILE* file = g_transfer.file.exchange(nullptr)) {
            std::fclose(file);
        }
    }

    uint8_t load(const std::string& path) {
        g_transfer.file.store(std::fopen(path.c_str(), "rb"));
        EXPECT_NE(g_transfer.file.load(), nullptr) << path;
        return loadImage(g_transfer);
    }

    TempDir m_dir;
};

}  // namespace tarnlink::test
