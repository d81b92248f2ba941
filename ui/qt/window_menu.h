#pragma once
// The dialog's window menu. X11 and Wayland window managers own the real system menu and
// let no program add to it, so the dialog offers the same commands from its context menu
// (right-click on the dialog, or the menu key); each item carries its command number.

#include <QString>

class QAction;
class QMenu;

namespace tarnlink {

/// The platform's own window-menu commands that the dialog's menu offers as well.
inline constexpr unsigned SC_MINIMIZE = 0xF020;
inline constexpr unsigned SC_CLOSE = 0xF060;

/// Name of the Qt property of each item that holds its command number.
inline constexpr const char* COMMAND_PROPERTY = "sysCommand";

/// Fills `menu` with the platform's own items (Minimize, Close). UI thread.
void addStandardWindowCommands(QMenu& menu);

/// Appends a separator and the item `text` with command `command`; an empty `text` adds
/// neither. Returns the new item or null. UI thread.
QAction* appendMenuItem(QMenu& menu, const QString& text, unsigned command);

/// The command number of a menu item (0 for a separator).
unsigned commandOf(const QAction& action);

}  // namespace tarnlink
