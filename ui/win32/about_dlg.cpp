#include "ui/win32/about_dlg.h"

#include "ui/resource_ids.h"

namespace tarnlink {

CAboutDlg::CAboutDlg() : ModalDialog(IDD_ABOUTBOX, nullptr) {}

CAboutDlg::~CAboutDlg() = default;

}  // namespace tarnlink
