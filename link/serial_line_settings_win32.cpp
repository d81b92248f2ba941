#include "link/serial_line_settings_win32.h"

#include "link/line_rate.h"

namespace tarnlink {

// Frames are not escaped, so all 256 byte values must pass unchanged both ways: every field
// that could alter one is set, whatever the port had before.
void setLineSettings(DCB& dcb) {
    // The definition string first; its result does not matter, because the four values it
    // sets are then set once more field by field.
    (void)BuildCommDCBA("baud=115200 parity=N data=8 stop=1", &dcb);
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;   // no end-of-file character
    dcb.fParity = FALSE;  // no parity checking, so nothing is replaced
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;          // keep 0x00 bytes
    dcb.fAbortOnError = FALSE;  // a line error must not stall every later read and write
    dcb.fOutX = FALSE;          // 0x11 and 0x13 are data, not XON/XOFF
    dcb.fInX = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.XonChar = 0x11;  // unused; drivers refuse equal XON and XOFF characters
    dcb.XoffChar = 0x13;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    // DTR on while the port is open, as Linux leaves it: USB CDC adapters send nothing
    // without it. RTS is held off: boards wire it to reset or to boot select.
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
}

// The RTS mode is not compared: some drivers (Wine's among them) report it from the line's
// state rather than from the mode that was set. The rate may be a little off (line_rate.h).
bool lineSettingsTook(const DCB& dcb) {
    return reportedRateAccepted(dcb.BaudRate, CBR_115200) && dcb.ByteSize == 8 &&
           dcb.Parity == NOPARITY && dcb.StopBits == ONESTOPBIT && !dcb.fParity && !dcb.fOutX &&
           !dcb.fInX && !dcb.fOutxCtsFlow && !dcb.fOutxDsrFlow && !dcb.fNull;
}

}  // namespace tarnlink
