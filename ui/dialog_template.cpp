#include "ui/dialog_template.h"

#include "ui/resource_ids.h"

namespace tarnlink {

namespace {

using enum ControlKind;

constexpr ControlTemplate kMainControls[] = {
    {IDC_LOAD, "IDC_LOAD", PushButton, "Load Image", {224, 28, 50, 14}, true, true, true},
    {IDC_PROGRESS, "IDC_PROGRESS", ProgressBar, "", {8, 61, 263, 11}, false, true, false},
    {IDC_IMAGE_PATH, "IDC_IMAGE_PATH", Edit, "", {4, 12, 198, 12}, true, true, true},
    {IDC_BROWSE, "IDC_BROWSE", PushButton, "...", {204, 12, 12, 12}, true, true, true},
    {IDC_STATIC, "IDC_STATIC", TextLeft, "Image File:", {7, 2, 208, 8}, true, true, false},
    {IDC_COM_PORT, "IDC_COM_PORT", Edit, "", {223, 12, 50, 12}, true, true, true},
    {IDC_STATIC, "IDC_STATIC", TextRightCentred, "COM Port:", {225, 3, 34, 8}, true, true, false},
    {IDC_NO_RESET_VERIFY,
     "IDC_NO_RESET_VERIFY",
     AutoCheckBox,
     "No Reset Vector Verification (8051 only)",
     {8, 31, 144, 10},
     false,
     false,
     true},
    {IDC_CRYPT, "IDC_CRYPT", PushButton, "Crypt Image", {166, 28, 50, 14}, true, true, true},
    {IDC_STATUS, "IDC_STATUS", TextLeft, "", {12, 47, 260, 8}, true, true, false},
};

constexpr ControlTemplate kAboutControls[] = {
    {IDC_STATIC, "IDC_STATIC", Icon, "", {11, 17, 20, 20}, true, true, false},
    {IDC_STATIC,
     "IDC_STATIC",
     TextLeft,
     "Tarnlink Version 1.0",
     {40, 10, 119, 8},
     true,
     true,
     false},
    {IDOK, "IDOK", DefPushButton, "OK", {178, 7, 50, 16}, true, true, true},
};

constexpr DialogTemplate kMain{IDD_MAIN, "Tarnlink Demo Tool - v1.1", 285, 79, kMainControls};
constexpr DialogTemplate kAbout{IDD_ABOUTBOX, "About Tarnlink", 235, 55, kAboutControls};

}  // namespace

const DialogTemplate& mainDialogTemplate() {
    return kMain;
}
const DialogTemplate& aboutDialogTemplate() {
    return kAbout;
}

}  // namespace tarnlink
