#include "ui/qt/dialog_builder.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVariant>
#include <vector>

#include "ui/qt/app_icon.h"
#include "ui/qt/dialog_units.h"

namespace tarnlink {

namespace {

using enum ControlKind;

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
