#pragma once
// The program's string table.

#include <QString>

namespace tarnlink {

/// The string with identifier `id`; empty when the table has none. Any thread.
QString loadStringResource(int id);

}  // namespace tarnlink
