#pragma once
// The About box: the icon, "Tarnlink Version 1.0" and OK. OK, Enter, Escape and the
// close box end it.

#include <QDialog>

namespace tarnlink {

class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    /// Built from IDD_ABOUTBOX; no parent, so exec() blocks every other window. UI thread.
    CAboutDlg();
    ~CAboutDlg() override;
};

}  // namespace tarnlink
