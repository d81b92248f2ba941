// tarnlink.exe: the dialog program, native Win32.

#include "ui/win32/tarnlink_app.h"

#include <windows.h>

namespace {

tarnlink::CTarnlinkApp theApp;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    theApp.InitInstance();
    // Closing the dialog does not wait for a transfer: its worker and reader threads may
    // still hold the port and the file and use the engine's globals. ExitProcess ends those
    // threads first, and the system then releases the port and the file.
    ExitProcess(0);
}
