#include "tests/ui/win32/dialog_resource.h"

#include <cstring>

namespace tarnlink::test {

namespace {

// A cursor over the template's bytes; every field is little-endian and WORD-aligned, every
// item DWORD-aligned from the template's start.
class Reader {
  public:
    Reader(const uint8_t* begin, size_t size) : m_begin(begin), m_size(size) {}

    bool ok() const { return m_ok; }
    uint16_t word() {
        uint16_t value = 0;
        take(&value, sizeof value);
        return value;
    }
    uint32_t dword() {
        uint32_t value = 0;
        take(&value, sizeof value);
        return value;
    }
    int16_t shortValue() { return static_cast<int16_t>(word()); }
    void alignDword() { m_at = (m_at + 3) & ~size_t{3}; }
    void skip(size_t count) {
        m_at += count;
        m_ok = m_ok && m_at <= m_size;
    }
    // A string of UTF-16 units up to a 0, narrowed (the program's texts are ASCII).
    std::string string() {
        std::string text;
        for (uint16_t unit = word(); m_ok && unit != 0; unit = word()) {
            text += unit < 0x80 ? static_cast<char>(unit) : '?';
        }
        return text;
    }
    // sz_Or_Ord: nothing, an ordinal ("#n") or a string.
    std::string stringOrOrdinal() {
        const uint16_t first = word();
        if (first == 0x0000) {
            return {};
        }
        if (first == 0xFFFF) {
            return "#" + std::to_string(word());
        }
        m_at -= 2;
        return string();
    }

  private:
    void take(void* out, size_t count) {
        if (!m_ok || m_at + count > m_size) {
            m_ok = false;
            return;
        }
        std::memcpy(out, m_begin + m_at, count);
        m_at += count;
    }

    const uint8_t* m_begin;
    size_t m_size;
    size_t m_at = 0;
    bool m_ok = true;
};

}  // namespace

std::optional<DialogResource> loadDialogResource(HMODULE module, int id) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5) /*RT_DIALOG*/);
    if (found == nullptr) {
        return std::nullopt;
    }
    HGLOBAL loaded = LoadResource(module, found);
    const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
    if (bytes == nullptr) {
        return std::nullopt;
    }
    Reader in(bytes, SizeofResource(module, found));
    DialogResource dialog;
    const uint16_t version = in.word();
    const uint16_t signature = in.word();
    if (version != 1 || signature != 0xFFFF) {
        return std::nullopt;
    }
    in.dword();  // help ID
    dialog.exStyle = in.dword();
    dialog.style = in.dword();
    const uint16_t count = in.word();
    dialog.x = in.shortValue();
    dialog.y = in.shortValue();
    dialog.cx = in.shortValue();
    dialog.cy = in.shortValue();
    in.stringOrOrdinal();  // menu
    in.stringOrOrdinal();  // window class
    dialog.caption = in.string();
    if ((dialog.style & (DS_SETFONT | DS_SHELLFONT)) != 0) {
        dialog.pointSize = in.word();
        in.word();   // weight
        in.skip(2);  // italic, character set
        dialog.typeface = in.string();
    }
    for (uint16_t i = 0; i < count && in.ok(); ++i) {
        in.alignDword();
        DialogItemResource item;
        in.dword();  // help ID
        item.exStyle = in.dword();
        item.style = in.dword();
        item.x = in.shortValue();
        item.y = in.shortValue();
        item.cx = in.shortValue();
        item.cy = in.shortValue();
        item.id = static_cast<int32_t>(in.dword());
        item.className = in.stringOrOrdinal();
        item.title = in.stringOrOrdinal();
        in.skip(in.word());  // creation data
        dialog.items.push_back(item);
    }
    if (!in.ok()) {
        return std::nullopt;
    }
    return dialog;
}

}  // namespace tarnlink::test
