#pragma once
// The main dialog (template IDD_MAIN): image path, port, the two start buttons that turn
// into "Cancel", the status line and the progress bar. It keeps no transfer state beyond
// m_busy.

#include <windows.h>

#include <string>
#include <string_view>

#include "ui/dialog_actions.h"
#include "ui/transfer_engine.h"
#include "ui/win32/modal_dialog.h"
#include "ui/win32/window_text.h"

namespace tarnlink {

class CTarnlinkDlg : public ModalDialog {
  public:
    /// The dialog on the real transfer engine. UI thread.
    explicit CTarnlinkDlg(HWND parent = nullptr);
    /// The same dialog driving `engine` (kept by reference: it must outlive the dialog).
    explicit CTarnlinkDlg(const TransferEngine& engine, HWND parent = nullptr);
    ~CTarnlinkDlg() override;

    /// 1 from a start click until WM_TRANSFER_DONE arrives, else 0. UI thread.
    int busy() const { return m_busy; }

  protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    /// A system-menu command; IDM_ABOUTBOX (low 4 bits ignored) runs the About box
    /// modally. False: the dialog manager's default processing.
    bool OnSysCommand(UINT nID, LPARAM lParam);
    /// WM_PAINT: the icon centred while minimised. False: default painting.
    bool OnPaint();
    HCURSOR OnQueryDragIcon();
    /// WM_TRANSFER_DONE: shows the result's message and returns to the Idle look.
    LRESULT OnTransferDone(WPARAM wParam, LPARAM lParam);
    void OnBnClickedLoad();
    void OnBnClickedBrowse();
    void OnBnClickedCrypt();

  private:
    void startTransfer(TransferKind kind);
    void applyLook(DialogLook look);
    /// Gives the window a small icon of `size` pixels from the icon's nearest image.
    void setSmallIcon(int size);

    const TransferEngine& m_engine;
    int m_busy;
    HICON m_icon;                 ///< the big icon, the minimised painting, the drag image
    HICON m_smallIcon = nullptr;  ///< owned: made for the small-icon size of the window's DPI
};

/// Appends a separator and the item `text` (UTF-8) with command `command` to `menu`; an
/// empty or null `text` adds neither. UI thread.
void appendMenuItem(HMENU menu, const char* text, UINT command);

/// "name\0pattern\0...\0\0": the filter of a file dialog from the shared filter notation.
std::wstring openFileFilter(std::string_view filter);

}  // namespace tarnlink
