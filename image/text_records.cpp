#include "image/text_records.h"

#include <array>
#include <cstdio>

namespace tarnlink {

namespace {

constexpr uint8_t NOT_HEX = 0xFF;

constexpr std::array<uint8_t, 256> hexValues() {
    std::array<uint8_t, 256> values{};
    for (auto& v : values) {
        v = NOT_HEX;
    }
    for (int i = 0; i < 10; ++i) {
        values['0' + i] = static_cast<uint8_t>(i);
    }
    for (int i = 0; i < 6; ++i) {
        values['A' + i] = static_cast<uint8_t>(10 + i);
        values['a' + i] = static_cast<uint8_t>(10 + i);
    }
    return values;
}

constexpr std::array<uint8_t, 256> HEX_VALUES = hexValues();

}  // namespace

bool TextLines::next(std::string_view& line) {
    if (m_at >= m_text.size()) {
        return false;
    }
    const size_t end = m_text.find('\n', m_at);
    const size_t stop = end == std::string_view::npos ? m_text.size() : end;
    line = m_text.substr(m_at, stop - m_at);
    m_at = stop + 1;
    ++m_number;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.remove_suffix(1);
    }
    return true;
}

std::string decodeHexPairs(std::string_view digits, uint8_t* out) {
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        const uint8_t high = HEX_VALUES[static_cast<uint8_t>(digits[i])];
        const uint8_t low = HEX_VALUES[static_cast<uint8_t>(digits[i + 1])];
        // A digit's value is below 16, NOT_HEX is not: one test for the pair.
        if ((high | low) > 0x0F) {
            const char bad = high == NOT_HEX ? digits[i] : digits[i + 1];
            return describeCharacter(bad) + " is not a hex digit";
        }
        out[i / 2] = static_cast<uint8_t>(high << 4 | low);
    }
    return {};
}

std::string describeCharacter(char c) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte >= 0x20 && byte < 0x7F) {
        return std::string("'") + c + "'";
    }
    return "the byte " + hexByte(byte);
}

std::string hexByte(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

}  // namespace tarnlink
