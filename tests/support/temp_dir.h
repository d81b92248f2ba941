#pragma once
// A temporary directory that is removed with everything in it when the object goes.

#include <cstdint>
#include <string>
#include <vector>

namespace tarnlink::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    /// Full path of `name` inside the directory.
    std::string file(const std::string& name) const;
    /// Writes `bytes` to `name` and returns the full path.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const;

private:
    std::string m_path;
};

/// The whole content of a file; empty when it cannot be read.
std::vector<uint8_t> readFile(const std::string& path);

}  // namespace tarnlink::test
