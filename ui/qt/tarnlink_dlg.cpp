#include "ui/qt/tarnlink_dlg.h"

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
#include "ui/dialog_actions.h"
#include "ui/dialog_texts.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/app_icon.h"
#include "ui/qt/dialog_builder.h"
#include "ui/qt/dialog_notifications.h"
#include "ui/qt/string_resources.h"
#include "ui/qt/window_menu.h"
#include "ui/resource_ids.h"

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

// The file dialog's name filters from the shared filter. "*.*" means every file only on
// Windows; here "*" does.
QStringList nameFilters(const std::vector<FileFilter>& entries) {
    QStringList filters;
    for (const FileFilter& entry : entries) {
        QString name = QString::fromUtf8(entry.name);
        if (entry.pattern == "*.*") {
            name.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
        }
        filters.append(name);
    }
    return filters;
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
        port->setText(QString::fromUtf8(TEXT_INITIAL_COM_PORT));
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
    showStatus(transferDoneMessage(wParam));
    m_busy = 0;
    // The bar keeps its position while hidden; the next transfer shows it until its first
    // progress report.
    applyLook(DialogLook::IDLE);
    return 0;
}

void CTarnlinkDlg::OnBnClickedLoad() {
    startTransfer(TransferKind::DOWNLOAD);
}

void CTarnlinkDlg::OnBnClickedCrypt() {
    startTransfer(TransferKind::CRYPT_READ_BACK);
}

void CTarnlinkDlg::startTransfer(TransferKind kind) {
    const auto* pathEdit = qobject_cast<QLineEdit*>(GetDlgItem(IDC_IMAGE_PATH));
    const auto* portEdit = qobject_cast<QLineEdit*>(GetDlgItem(IDC_COM_PORT));
    const auto* check = qobject_cast<QCheckBox*>(GetDlgItem(IDC_NO_RESET_VERIFY));
    // The image path goes to the C library as the file system spells it; the port text is
    // read as the system's 8-bit text, as strtol sees it.
    const std::string path = pathEdit ? QFile::encodeName(pathEdit->text()).toStdString() : "";
    const std::string portText = portEdit ? portEdit->text().toLocal8Bit().toStdString() : "";
    const StartDecision decision =
        decideStart(kind, m_busy, pathEdit ? &path : nullptr, portEdit ? &portText : nullptr,
                    kind == TransferKind::DOWNLOAD ? buttonStateBits(check) : 0);
    carryOutStart(
        decision, kind, path, m_engine, [this](const char* message) { showStatus(message); },
        [this](DialogLook busyLook) {
            m_busy = 1;
            applyLook(busyLook);
        });
}

void CTarnlinkDlg::applyLook(DialogLook look) {
    const LookOfControls& controls = controlsOf(look);
    setControlText(GetDlgItem(IDC_LOAD), controls.loadText);
    setControlShown(GetDlgItem(IDC_LOAD), controls.loadShown);
    setControlText(GetDlgItem(IDC_CRYPT), controls.cryptText);
    setControlShown(GetDlgItem(IDC_CRYPT), controls.cryptShown);
    setControlShown(GetDlgItem(IDC_PROGRESS), controls.progressShown);
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
    const QStringList filters = nameFilters(parseFileFilter(BROWSE_FILTER));
    dialog.setNameFilters(filters);
    if (!filters.isEmpty()) {
        dialog.selectNameFilter(filters.first());
    }
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
