#include "ui/tarnlink_dlg.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <string>

#include "transfer/transfer_context.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/dialog_notifications.h"
#include "ui/dialog_template.h"
#include "ui/port_path.h"
#include "ui/resource_ids.h"
#include "ui/string_resources.h"
#include "ui/window_menu.h"

namespace tarnlink {

namespace {

// The check box's state as the classic button state bits: 1 checked, 2 indeterminate.
unsigned buttonStateBits(const QCheckBox* box) {
    if (box == nullptr) {
        return 0;
    }
    switch (box->checkState()) {
        case Qt::Checked:
            return 1;
        case Qt::PartiallyChecked:
            return 2;
        case Qt::Unchecked:
            break;
    }
    return 0;
}

void setControlText(QWidget* control, const char* text) {
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        button->setText(QString::fromUtf8(text));
    }
}

void setControlShown(QWidget* control, bool shown) {
    if (control != nullptr) {
        control->setVisible(shown);
    }
}

}  // namespace

CTarnlinkDlg::CTarnlinkDlg(QWidget* parent) : CTarnlinkDlg(realTransferEngine(), parent) {}

CTarnlinkDlg::CTarnlinkDlg(const TransferEngine& engine, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_engine(engine),
      m_icon(appIcon()) {
    setObjectName(QStringLiteral("IDD_MAIN"));
    setSizeGripEnabled(false);
    buildFromTemplate(*this, mainDialogTemplate());
    connect(qobject_cast<QPushButton*>(GetDlgItem(IDC_LOAD)), &QPushButton::clicked, this,
            &CTarnlinkDlg::OnBnClickedLoad);
    connect(qobject_cast<QPushButton*>(GetDlgItem(IDC_BROWSE)), &QPushButton::clicked, this,
            &CTarnlinkDlg::OnBnClickedBrowse);
    connect(qobject_cast<QPushButton*>(GetDlgItem(IDC_CRYPT)), &QPushButton::clicked, this,
            &CTarnlinkDlg::OnBnClickedCrypt);
}

CTarnlinkDlg::~CTarnlinkDlg() {
    // The window goes: notifications that a worker still makes must find no target. Only
    // our own registration is ours to clear.
    clearDialogNotificationTarget(this);
}

QWidget* CTarnlinkDlg::GetDlgItem(int id) const {
    return findControl(*this, id);
}

bool CTarnlinkDlg::OnInitDialog() {
    m_systemMenu = new QMenu(this);
    m_systemMenu->setObjectName(QStringLiteral("systemMenu"));
    addStandardWindowCommands(*m_systemMenu);
    appendMenuItem(*m_systemMenu, loadStringResource(IDS_ABOUTBOX), IDM_ABOUTBOX);
    // Queued: the command runs once the menu has closed, not inside its own event handling.
    connect(
        m_systemMenu, &QMenu::triggered, this,
        [this](QAction* action) { OnSysCommand(commandOf(*action), 0); }, Qt::QueuedConnection);

    setWindowIcon(m_icon);

    if (auto* port = qobject_cast<QLineEdit*>(GetDlgItem(IDC_COM_PORT))) {
        port->setText(QStringLiteral("1"));
    }
    return true;
}

void CTarnlinkDlg::OnSysCommand(unsigned command, intptr_t /*lParam*/) {
    switch (command & 0xFFF0) {
        case IDM_ABOUTBOX: {
            CAboutDlg about;
            about.exec();
            break;
        }
        case SC_MINIMIZE:
            showMinimized();
            break;
        case SC_CLOSE:
            close();
            break;
        default:
            break;
    }
}

intptr_t CTarnlinkDlg::OnTransferDone(uintptr_t wParam, intptr_t /*lParam*/) {
    const unsigned result = static_cast<unsigned>(wParam & 0xFF);
    showStatus(transferResultMessage(result));
    m_busy = 0;
    // The bar keeps its position while hidden; the next transfer shows it until its first
    // progress report.
    setControlShown(GetDlgItem(IDC_PROGRESS), false);
    setControlText(GetDlgItem(IDC_LOAD), "Load Image");
    setControlShown(GetDlgItem(IDC_LOAD), true);
    setControlText(GetDlgItem(IDC_CRYPT), "Crypt Image");
    setControlShown(GetDlgItem(IDC_CRYPT), true);
    return 0;
}

void CTarnlinkDlg::OnBnClickedLoad() {
    startTransfer(true);
}

void CTarnlinkDlg::OnBnClickedCrypt() {
    startTransfer(false);
}

void CTarnlinkDlg::startTransfer(bool download) {
    if (m_busy != 0) {
        m_engine.cancelTransfer();
        return;
    }
    auto* pathEdit = qobject_cast<QLineEdit*>(GetDlgItem(IDC_IMAGE_PATH));
    auto* portEdit = qobject_cast<QLineEdit*>(GetDlgItem(IDC_COM_PORT));
    uint8_t skipResetVector = 0;
    if (download) {
        // Read before any other test, as every Load start does.
        const auto* check = qobject_cast<QCheckBox*>(GetDlgItem(IDC_NO_RESET_VERIFY));
        skipResetVector = (buttonStateBits(check) & 3) != 0 ? 1 : 0;
    }
    if (pathEdit == nullptr || portEdit == nullptr) {
        return;
    }
    const QByteArray path = QFile::encodeName(pathEdit->text());
    const std::string portPath = portPathFromText(portEdit->text().toLocal8Bit().toStdString());
    if (path.isEmpty()) {
        // A path of blanks counts as given: it is not trimmed.
        showStatus(download ? "Please specify a file to transmit"
                            : "Please specify path & name of a binary file to receive the crypt.");
        return;
    }
    // The busy look comes before the start call: a start that fails at once reports
    // through WM_TRANSFER_DONE, which must find the busy look to undo it.
    m_busy = 1;
    setControlText(GetDlgItem(download ? IDC_LOAD : IDC_CRYPT), "Cancel");
    setControlShown(GetDlgItem(IDC_PROGRESS), true);
    setControlShown(GetDlgItem(download ? IDC_CRYPT : IDC_LOAD), false);
    if (download) {
        m_engine.startDownload(path.constData(), portPath.c_str(), skipResetVector);
    } else {
        m_engine.startCryptReadBack(path.constData(), portPath.c_str());
    }
}

void CTarnlinkDlg::OnBnClickedBrowse() {
    auto* pathEdit = qobject_cast<QLineEdit*>(GetDlgItem(IDC_IMAGE_PATH));
    if (pathEdit == nullptr) {
        return;
    }
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("browseDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Any name, also one that does not exist yet: the same path names the crypt output file.
    dialog.setFileMode(QFileDialog::AnyFile);
    // "*.*" means every file only on Windows; here "*" does.
    dialog.setNameFilters({QStringLiteral("Binary (*.bin)"), QStringLiteral("All Files (*)")});
    dialog.selectNameFilter(QStringLiteral("Binary (*.bin)"));
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty()) {
        pathEdit->setText(QDir::toNativeSeparators(chosen.first()));
    }
}

bool CTarnlinkDlg::event(QEvent* event) {
    if (event->type() == TransferDoneEvent::TYPE) {
        const auto* done = static_cast<TransferDoneEvent*>(event);
        OnTransferDone(done->wParam(), done->lParam());
        return true;
    }
    return QDialog::event(event);
}

void CTarnlinkDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_initialised) {
        return;
    }
    m_initialised = true;
    if (!OnInitDialog()) {
        return;
    }
    for (const ControlTemplate& control : mainDialogTemplate().controls) {
        QWidget* widget = GetDlgItem(control.id);
        if (control.tabStop && widget != nullptr && widget->isVisibleTo(this) &&
            widget->isEnabled()) {
            widget->setFocus(Qt::TabFocusReason);
            break;
        }
    }
}

void CTarnlinkDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // No push button is a default button: Enter clicks the button that has the focus,
        // and anywhere else it ends the dialog.
        auto* button = qobject_cast<QPushButton*>(focusWidget());
        if (button != nullptr && button->isVisible() && button->isEnabled()) {
            button->click();
        } else {
            accept();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CTarnlinkDlg::contextMenuEvent(QContextMenuEvent* event) {
    if (m_systemMenu == nullptr) {
        return;
    }
    m_systemMenu->popup(event->globalPos());
    event->accept();
}

}  // namespace tarnlink
