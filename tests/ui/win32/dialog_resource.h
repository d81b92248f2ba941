#pragma once
// Reads a dialog template (DLGTEMPLATEEX) from a module's resources into plain values, so
// tests can compare what the resource compiler made with what the dialog should be.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnlink::test {

struct DialogItemResource {
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::string className;  ///< "#128" for the ordinal 0x80 (button) and so on
    std::string title;      ///< "#128" for a resource ordinal
};

struct DialogResource {
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    int pointSize = 0;
    std::string typeface;
    std::vector<DialogItemResource> items;
};

/// Template `id` of `module`; none when it is missing or not a DLGTEMPLATEEX.
std::optional<DialogResource> loadDialogResource(HMODULE module, int id);

}  // namespace tarnlink::test
