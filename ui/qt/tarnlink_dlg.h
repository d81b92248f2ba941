#pragma once
// The main dialog: image path, port, the two start buttons that turn into "Cancel", the
// status line and the progress bar. It keeps no transfer state beyond m_busy.

#include <QDialog>
#include <QEvent>
#include <QIcon>
#include <cstdint>

#include "transfer/notifications.h"
#include "ui/dialog_actions.h"
#include "ui/transfer_engine.h"

class QMenu;

namespace tarnlink {

/// WM_TRANSFER_DONE as a Qt event: `wParam` carries the result in its low 8 bits.
class TransferDoneEvent final : public QEvent {
  public:
    static constexpr QEvent::Type TYPE = static_cast<QEvent::Type>(QEvent::User + WM_TRANSFER_DONE);
    TransferDoneEvent(uintptr_t wParam, intptr_t lParam)
        : QEvent(TYPE), m_wParam(wParam), m_lParam(lParam) {}
    uintptr_t wParam() const { return m_wParam; }
    intptr_t lParam() const { return m_lParam; }

  private:
    uintptr_t m_wParam;
    intptr_t m_lParam;
};

class CTarnlinkDlg : public QDialog {
    Q_OBJECT

  public:
    /// The dialog on the real transfer engine, built from IDD_MAIN. UI thread.
    explicit CTarnlinkDlg(QWidget* parent = nullptr);
    /// The same dialog driving `engine` (kept by reference: it must outlive the dialog).
    explicit CTarnlinkDlg(const TransferEngine& engine, QWidget* parent = nullptr);
    ~CTarnlinkDlg() override;

    /// The control with identifier `id` (IDC_...), or null.
    QWidget* GetDlgItem(int id) const;
    /// 1 from a start click until WM_TRANSFER_DONE arrives, else 0.
    int busy() const { return m_busy; }
    /// The window menu that stands for the system menu (see window_menu.h); null before
    /// the dialog has been initialised.
    QMenu* systemMenu() const { return m_systemMenu; }

    /// Runs once, when the dialog is first shown; true: the focus goes to the first tab stop.
    bool OnInitDialog();
    /// A window-menu command; IDM_ABOUTBOX (low 4 bits ignored) runs the About box modally.
    void OnSysCommand(unsigned command, intptr_t lParam);
    /// WM_TRANSFER_DONE: shows the result's message and returns to the Idle look.
    intptr_t OnTransferDone(uintptr_t wParam, intptr_t lParam);
    void OnBnClickedLoad();
    void OnBnClickedCrypt();
    void OnBnClickedBrowse();

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void startTransfer(TransferKind kind);
    void applyLook(DialogLook look);

    const TransferEngine& m_engine;
    int m_busy = 0;
    QIcon m_icon;
    QMenu* m_systemMenu = nullptr;
    bool m_initialised = false;
};

}  // namespace tarnlink
