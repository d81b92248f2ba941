#pragma once
// What each kind of control of the shared dialog templates is on Windows: its window class
// and the style bits that make it that kind.

#include <windows.h>

#include <string>

#include "ui/dialog_template.h"

namespace tarnlink::test {

/// Window class of `kind`, lower case ("button", "edit", "static", "msctls_progress32").
std::string expectedClass(ControlKind kind);

/// A class as found in a template or on a window, lower case, with the predefined ordinals
/// ("#128" button, "#129" edit, "#130" static) named.
std::string normalisedClass(const std::string& name);

/// Where the styles come from: the template, or a control that the dialog manager created.
enum class StyleSource { TEMPLATE, WINDOW };

/// Empty when `style` (and `exStyle`) make a control of `control`'s kind and initial state
/// (visible, enabled, tab stop), else what differs. On a created edit the dialog manager
/// turns WS_BORDER into WS_EX_CLIENTEDGE; a themed progress bar drops its border bits and
/// draws its own frame, so a created one's border is not looked at.
std::string styleMismatch(const ControlTemplate& control, DWORD style, DWORD exStyle,
                          StyleSource source);

}  // namespace tarnlink::test
