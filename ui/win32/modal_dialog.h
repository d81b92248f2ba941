#pragma once
// A modal dialog from a template in the program's resources, run by the system's dialog
// manager, with its dialog procedure forwarded to a C++ object. The dialog manager gives
// the keys their usual meaning: Tab moves between tab stops, Enter clicks the focused push
// button (else it is IDOK), Escape and the close box are IDCANCEL.

#include <windows.h>

namespace tarnlink {

class ModalDialog {
  public:
    /// A dialog on template `templateId`, owned by `parent`: with none, by the application's
    /// main window while it has one (so a box opened from the main dialog is modal to it).
    ModalDialog(int templateId, HWND parent);
    virtual ~ModalDialog();
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    /// Creates the window, runs it until EndDialog, destroys it; returns EndDialog's code,
    /// or -1 when the window could not be created. UI thread.
    INT_PTR DoModal();

    /// The dialog's window while it exists, else null.
    HWND GetSafeHwnd() const { return m_hWnd; }
    /// The control with identifier `id`, or null. UI thread.
    HWND GetDlgItem(int id) const;

  protected:
    /// WM_INITDIALOG: true lets the dialog manager focus the first tab stop.
    virtual BOOL OnInitDialog();
    /// IDOK (Enter outside a push button) and IDCANCEL (Escape, close box): end the dialog.
    virtual void OnOK();
    virtual void OnCancel();
    /// Every other message. Return true when handled, with the message's result in `result`.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    void EndDialog(INT_PTR code);

  private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    int m_templateId;
    HWND m_parent;
    HWND m_hWnd = nullptr;
};

}  // namespace tarnlink
