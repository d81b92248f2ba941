#include "ui/dialog_template.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVariant>
#include <vector>

#include "ui/qt/app_icon.h"
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

QWidget* createControl(QDialog& dialog, const ControlTemplate& control, QSize pixels) {
    const QString text = QString::fromUtf8(control.text);
    switch (control.kind) {
        case PushButton:
        case DefPushButton: {
            auto* button = new QPushButton(text, &dialog);
            // A QPushButton on a QDialog is an auto-default button unless told otherwise;
            // the template's plain push buttons must never take Enter for themselves.
            button->setAutoDefault(control.kind == DefPushButton);
            button->setDefault(control.kind == DefPushButton);
            return button;
        }
        case Edit: {
            auto* edit = new QLineEdit(text, &dialog);
            edit->setFrame(true);
            return edit;
        }
        case TextLeft:
        case TextRightCentred: {
            auto* label = new QLabel(text, &dialog);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(control.kind == TextLeft ? Qt::AlignLeft | Qt::AlignTop
                                                         : Qt::AlignRight | Qt::AlignVCenter);
            return label;
        }
        case AutoCheckBox:
            return new QCheckBox(text, &dialog);
        case ProgressBar: {
            auto* bar = new QProgressBar(&dialog);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);
            return bar;
        }
        case Icon: {
            auto* label = new QLabel(&dialog);
            label->setPixmap(appIcon().pixmap(pixels));
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return label;
        }
    }
    return nullptr;
}

}  // namespace

const DialogTemplate& mainDialogTemplate() {
    return kMain;
}
const DialogTemplate& aboutDialogTemplate() {
    return kAbout;
}

void buildFromTemplate(QDialog& dialog, const DialogTemplate& tmpl) {
    const DialogBaseUnits base = baseUnitsOf(dialog.font());
    dialog.setWindowTitle(QString::fromUtf8(tmpl.caption));
    const DialogRect client = mapDialogRect({0, 0, tmpl.width, tmpl.height}, base);
    dialog.setFixedSize(client.width, client.height);

    std::vector<QWidget*> created;
    QWidget* previousTabStop = nullptr;
    for (const ControlTemplate& control : tmpl.controls) {
        const DialogRect r = mapDialogRect(control.rect, base);
        QWidget* widget = createControl(dialog, control, QSize(r.width, r.height));
        widget->setObjectName(QString::fromUtf8(control.name));
        widget->setProperty(CONTROL_ID_PROPERTY, control.id);
        widget->setGeometry(r.x, r.y, r.width, r.height);
        widget->setEnabled(control.enabled);
        widget->setVisible(control.visible);
        if (control.tabStop) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop != nullptr) {
                QWidget::setTabOrder(previousTabStop, widget);
            }
            previousTabStop = widget;
        } else {
            widget->setFocusPolicy(Qt::NoFocus);
        }
        created.push_back(widget);
    }
    // The first control of a template lies on top of the ones after it.
    for (auto it = created.rbegin(); it != created.rend(); ++it) {
        (*it)->raise();
    }
}

QWidget* findControl(const QWidget& dialog, int id) {
    for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QVariant value = child->property(CONTROL_ID_PROPERTY);
        if (value.isValid() && value.toInt() == id) {
            return child;
        }
    }
    return nullptr;
}

}  // namespace tarnlink
