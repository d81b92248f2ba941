#pragma once
// The About box (template IDD_ABOUTBOX): the icon, "Tarnlink Version 1.0" and OK. It has no
// handler of its own: OK, Enter, Escape and the close box end it.

#include "ui/win32/modal_dialog.h"

namespace tarnlink {

class CAboutDlg : public ModalDialog {
  public:
    /// No parent of its own: DoModal makes the main window its owner. UI thread.
    CAboutDlg();
    ~CAboutDlg() override;
};

}  // namespace tarnlink
