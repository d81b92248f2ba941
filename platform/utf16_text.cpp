#include "platform/utf16_text.h"

#include <cstdint>

namespace tarnlink {

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

struct Decoded {
    char32_t codePoint;
    size_t length;  ///< bytes taken; at least 1
    bool valid;
};

bool continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// One code point at the start of `text`. The second byte's range rules out overlong forms
// and code points past U+10FFFF; ED A0..BF (a surrogate) is taken on purpose, see the
// header. An invalid sequence takes its lead byte and the continuation bytes that still
// fitted, so that the next character is read from where it starts.
Decoded decodeOne(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    char32_t codePoint = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {REPLACEMENT, 1, false};
    }
    for (size_t i = 1; i < length; ++i) {
        const auto byte = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
        const bool fits = i == 1 ? byte >= low && byte <= high : continuation(byte);
        if (i >= text.size() || !fits) {
            return {REPLACEMENT, i, false};
        }
        codePoint = codePoint << 6 | (byte & 0x3F);
    }
    return {codePoint, length, true};
}

void appendUtf16(std::wstring& out, char32_t codePoint) {
    if (codePoint < 0x10000) {
        out += static_cast<wchar_t>(codePoint);
        return;
    }
    codePoint -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (codePoint >> 10));
    out += static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
}

std::optional<std::wstring> decode(std::string_view utf8, bool replaceInvalid) {
    std::wstring out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        const Decoded decoded = decodeOne(utf8);
        if (!decoded.valid && !replaceInvalid) {
            return std::nullopt;
        }
        appendUtf16(out, decoded.codePoint);
        utf8.remove_prefix(decoded.length);
    }
    return out;
}

void appendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | codePoint >> 6);
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | codePoint >> 12);
        out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | codePoint >> 18);
        out += static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

bool highSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool lowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

std::optional<std::wstring> utf16FromUtf8(std::string_view utf8) {
    return decode(utf8, false);
}

std::wstring utf16TextFromUtf8(std::string_view utf8) {
    return *decode(utf8, true);
}

std::string utf8FromUtf16(std::wstring_view utf16) {
    std::string out;
    out.reserve(utf16.size() * 3);
    for (size_t i = 0; i < utf16.size(); ++i) {
        // A wchar_t of 32 bits (Linux) holds one 16-bit unit here; anything wider is no unit.
        const auto unit = static_cast<char32_t>(static_cast<uint32_t>(utf16[i]));
        if (unit > 0xFFFF) {
            appendUtf8(out, REPLACEMENT);
        } else if (highSurrogate(unit) && i + 1 < utf16.size() &&
                   lowSurrogate(static_cast<char32_t>(static_cast<uint32_t>(utf16[i + 1])))) {
            const auto low = static_cast<char32_t>(static_cast<uint32_t>(utf16[++i]));
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else {
            appendUtf8(out, unit);  // a lone surrogate too: its own 3-byte form
        }
    }
    return out;
}

}  // namespace tarnlink
