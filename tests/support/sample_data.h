#pragma once
// Images and output texts as the end-to-end tests of the programs make and read them.

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace tarnlink::test {

/// `size` bytes that look random and are the same in every run for one `seed`.
inline std::vector<uint8_t> sampleImage(size_t size, uint8_t seed = 1) {
    std::vector<uint8_t> image(size);
    uint32_t x = seed;
    for (uint8_t& b : image) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return image;
}

/// The image as the target's flash holds it: its last block filled up with 0xFF.
inline std::vector<uint8_t> padded(std::vector<uint8_t> image) {
    image.resize((image.size() + 63) / 64 * 64, 0xFF);
    return image;
}

/// The lines of `text`, without their line ends.
inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

/// The last line of `text`; empty when it has none.
inline std::string lastLine(const std::string& text) {
    const std::vector<std::string> all = lines(text);
    return all.empty() ? std::string() : all.back();
}

}  // namespace tarnlink::test
