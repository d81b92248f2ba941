#pragma once
// SHA-256 of an image or crypt file, for the production record: which bytes went onto a board.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnlink {

/// Incremental SHA-256. Not thread-safe; one object per digest.
class Sha256 {
  public:
    Sha256();
    void update(const uint8_t* bytes, size_t size);
    /// The digest as 64 lower-case hex digits. Call once, after the last update.
    std::string finishHex();

  private:
    void compress(const uint8_t* block);

    std::array<uint32_t, 8> m_state;
    std::array<uint8_t, 64> m_buffer{};
    size_t m_buffered = 0;
    uint64_t m_length = 0;
};

/// The SHA-256 of `bytes` as 64 lower-case hex digits.
std::string sha256Of(const std::vector<uint8_t>& bytes);

/// Size and SHA-256 of a whole file.
struct FileDigest {
    uint64_t bytes = 0;
    std::string sha256;
};

/// Reads `path` to its end. Empty, with `*error` set to the errno, when it cannot be
/// opened or read. Any thread.
std::optional<FileDigest> digestFile(const std::string& path, int* error = nullptr);

}  // namespace tarnlink
