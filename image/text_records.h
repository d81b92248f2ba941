#pragma once
// What the two text formats share: walking a file line by line (Windows and Unix line
// ends), reading pairs of hex digits, and naming a character that does not belong.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnlink {

/// Hands out the lines of a text one at a time, with their line number (from 1) and
/// without the line end; trailing spaces, tabs and a carriage return are cut off.
class TextLines {
  public:
    TextLines(const uint8_t* text, size_t size)
        : m_text(reinterpret_cast<const char*>(text), size) {}
    /// False at the end of the text.
    bool next(std::string_view& line);
    /// Number of the line that next() gave last; the count of lines at the end.
    uint32_t number() const { return m_number; }

  private:
    std::string_view m_text;
    size_t m_at = 0;
    uint32_t m_number = 0;
};

/// Decodes `digits` (an even count of hex digits, either case) into `out`. Returns the
/// reason a pair is not hex ("'G' is not a hex digit"), or empty.
std::string decodeHexPairs(std::string_view digits, uint8_t* out);

/// "'G'" for a printable character, "the byte 0x00" for any other.
std::string describeCharacter(char c);

/// "0x3F".
std::string hexByte(uint8_t value);

}  // namespace tarnlink
