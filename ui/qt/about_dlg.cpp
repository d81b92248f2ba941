#include "ui/qt/about_dlg.h"

#include <QPushButton>

#include "ui/qt/app_icon.h"
#include "ui/qt/dialog_builder.h"
#include "ui/resource_ids.h"

namespace tarnlink {

CAboutDlg::CAboutDlg()
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("IDD_ABOUTBOX"));
    setWindowIcon(appIcon());
    buildFromTemplate(*this, aboutDialogTemplate());
    if (auto* ok = qobject_cast<QPushButton*>(findControl(*this, IDOK))) {
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        ok->setFocus(Qt::OtherFocusReason);
    }
}

CAboutDlg::~CAboutDlg() = default;

}  // namespace tarnlink
