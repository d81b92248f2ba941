#include "sim/sim_crypt.h"

namespace tarnlink::sim {
namespace {

uint64_t splitmix64(uint64_t x) {
    uint64_t z = x + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace

uint8_t simCryptKeyByte(size_t offset) {
    const uint64_t word = splitmix64(SIM_CRYPT_KEY ^ static_cast<uint64_t>(offset / 8));
    return static_cast<uint8_t>(word >> (8 * (offset % 8)));
}

std::vector<uint8_t> simCrypt(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        out[i] = static_cast<uint8_t>(bytes[i] ^ simCryptKeyByte(i));
    }
    return out;
}

}  // namespace tarnlink::sim
