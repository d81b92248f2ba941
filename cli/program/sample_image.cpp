// Writes the demo's sample image: `size` bytes from a fixed linear congruential sequence,
// so every build makes the same file.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE SIZE\n", argv[0]);
        return 64;
    }
    const long size = std::strtol(argv[2], nullptr, 10);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || size <= 0) {
        std::perror(argv[1]);
        return 1;
    }
    uint32_t x = 0x7A2E1u;
    for (long i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        std::fputc(static_cast<int>(x >> 24), out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
