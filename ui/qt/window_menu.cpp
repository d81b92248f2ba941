#include "ui/qt/window_menu.h"

#include <QAction>
#include <QMenu>

#include "ui/resource_ids.h"

namespace tarnlink {

namespace {

QAction* addCommand(QMenu& menu, const QString& text, unsigned command) {
    QAction* action = menu.addAction(text);
    action->setProperty(COMMAND_PROPERTY, command);
    return action;
}

}  // namespace

void addStandardWindowCommands(QMenu& menu) {
    addCommand(menu, QStringLiteral("Mi&nimize"), SC_MINIMIZE);
    addCommand(menu, QStringLiteral("&Close"), SC_CLOSE);
}

QAction* appendMenuItem(QMenu& menu, const QString& text, unsigned command) {
    if (text.isEmpty()) {
        return nullptr;
    }
    menu.addSeparator();
    return addCommand(menu, text, command);
}

unsigned commandOf(const QAction& action) {
    return action.property(COMMAND_PROPERTY).toUInt();
}

}  // namespace tarnlink
