#pragma once
// The target's crypt: a fixed, keyed, reversible transform of the flash contents.
//
// Byte o of the flash (o = 4 × word address + offset in the block) is XORed with byte
// (o mod 8), counted from the low end, of splitmix64(SIM_CRYPT_KEY XOR (o div 8)).
// So every block is keyed by its own address, and applying the transform twice gives the
// plain bytes back.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnlink::sim {

/// The fixed key: the ASCII bytes of "tarnlink" read as a big-endian number.
inline constexpr uint64_t SIM_CRYPT_KEY = 0x7461726E6C696E6BULL;

/// The keystream byte at flash byte offset `offset`.
uint8_t simCryptKeyByte(size_t offset);

/// Transforms `bytes`, taken to start at flash offset 0 (encrypts plain, decrypts crypt).
std::vector<uint8_t> simCrypt(const std::vector<uint8_t>& bytes);

}  // namespace tarnlink::sim
