#include "tests/ui/win32/control_styles.h"

#include <commctrl.h>

#include <algorithm>
#include <cctype>

namespace tarnlink::test {

namespace {

struct Bits {
    DWORD mask;
    DWORD value;
    const char* what;
};

void check(std::string& out, DWORD style, Bits bits) {
    if ((style & bits.mask) != bits.value) {
        out += std::string(bits.what) + "; ";
    }
}

}  // namespace

std::string expectedClass(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
        case ControlKind::AutoCheckBox:
            return "button";
        case ControlKind::Edit:
            return "edit";
        case ControlKind::TextLeft:
        case ControlKind::TextRightCentred:
        case ControlKind::Icon:
            return "static";
        case ControlKind::ProgressBar:
            return "msctls_progress32";
    }
    return {};
}

std::string normalisedClass(const std::string& name) {
    if (name == "#128") {
        return "button";
    }
    if (name == "#129") {
        return "edit";
    }
    if (name == "#130") {
        return "static";
    }
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string styleMismatch(const ControlTemplate& control, DWORD style, DWORD exStyle,
                          StyleSource source) {
    const bool bordered = (style & WS_BORDER) != 0 ||
                          (source == StyleSource::WINDOW && (exStyle & WS_EX_CLIENTEDGE) != 0);
    std::string out;
    check(out, style, {WS_CHILD, WS_CHILD, "WS_CHILD"});
    check(out, style, {WS_VISIBLE, control.visible ? WS_VISIBLE : 0u, "WS_VISIBLE"});
    check(out, style, {WS_DISABLED, control.enabled ? 0u : WS_DISABLED, "WS_DISABLED"});
    check(out, style, {WS_TABSTOP, control.tabStop ? WS_TABSTOP : 0u, "WS_TABSTOP"});
    switch (control.kind) {
        case ControlKind::PushButton:
            check(out, style, {BS_TYPEMASK, BS_PUSHBUTTON, "BS_PUSHBUTTON"});
            break;
        case ControlKind::DefPushButton:
            check(out, style, {BS_TYPEMASK, BS_DEFPUSHBUTTON, "BS_DEFPUSHBUTTON"});
            break;
        case ControlKind::AutoCheckBox:
            check(out, style, {BS_TYPEMASK, BS_AUTOCHECKBOX, "BS_AUTOCHECKBOX"});
            break;
        case ControlKind::Edit:
            check(out, style, {ES_MULTILINE | ES_NUMBER | ES_READONLY, 0, "a single-line edit"});
            check(out, style, {ES_AUTOHSCROLL, ES_AUTOHSCROLL, "ES_AUTOHSCROLL"});
            if (!bordered) {
                out += "a border; ";
            }
            break;
        case ControlKind::TextLeft:
            // Status texts carry '&' ("path & name"): it must show as typed.
            check(out, style, {SS_TYPEMASK, SS_LEFT, "SS_LEFT"});
            check(out, style, {SS_NOPREFIX, SS_NOPREFIX, "SS_NOPREFIX"});
            break;
        case ControlKind::TextRightCentred:
            check(out, style, {SS_TYPEMASK, SS_RIGHT, "SS_RIGHT"});
            check(out, style, {SS_CENTERIMAGE, SS_CENTERIMAGE, "SS_CENTERIMAGE"});
            break;
        case ControlKind::ProgressBar:
            if (source == StyleSource::TEMPLATE && !bordered) {
                out += "a border; ";
            }
            break;
        case ControlKind::Icon:
            check(out, style, {SS_TYPEMASK, SS_ICON, "SS_ICON"});
            break;
    }
    return out;
}

}  // namespace tarnlink::test
