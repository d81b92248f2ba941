#pragma once
// The program's icon (icon resources 128 and 129 of the templates: the same picture).

#include <QIcon>

namespace tarnlink {

/// The icon in every size the program carries, from the compiled-in resources. UI thread.
QIcon appIcon();

}  // namespace tarnlink
