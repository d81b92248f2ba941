#pragma once
// The line settings the link puts on a Windows COM port, and the check that they took.

#include <windows.h>

namespace tarnlink {

/// Sets in `dcb` raw 115200 8N1 with every field that could alter, drop or hold back a
/// byte turned off: no parity check or replacement, no NUL stripping, no error character,
/// no abort on error, no XON/XOFF, no CTS or DSR flow, DSR ignored; DTR on, RTS off.
void setLineSettings(DCB& dcb);

/// True when `dcb`, as read back from the port, is what setLineSettings asked for in
/// every part that moves bytes: speed (within 2 %), 8N1, no parity check, no flow control, NULs
/// kept.
bool lineSettingsTook(const DCB& dcb);

}  // namespace tarnlink
