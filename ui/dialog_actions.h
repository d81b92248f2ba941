#pragma once
// What the main dialog's handlers decide, apart from the toolkit that carries it out: the
// look of the three controls that change, what a click on a start button does, and the
// message that ends a transfer. Both dialogs (Qt and Win32) act on these answers.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/transfer_engine.h"

namespace tarnlink {

/// The three looks of the main dialog.
enum class DialogLook : uint8_t {
    IDLE,           ///< both start buttons, no progress bar
    DOWNLOADING,    ///< "Load Image" reads "Cancel", "Crypt Image" hidden, progress shown
    READING_CRYPT,  ///< "Crypt Image" reads "Cancel", "Load Image" hidden, progress shown
};

/// Texts and visibility of IDC_LOAD, IDC_CRYPT and IDC_PROGRESS in one look.
struct LookOfControls {
    const char* loadText;
    bool loadShown;
    const char* cryptText;
    bool cryptShown;
    bool progressShown;
};

/// The controls' state in `look`. Static storage.
const LookOfControls& controlsOf(DialogLook look);

enum class TransferKind : uint8_t { DOWNLOAD, CRYPT_READ_BACK };

/// What a click on "Load Image" or "Crypt Image" (or on the "Cancel" it turned into) does.
struct StartDecision {
    enum class Action : uint8_t {
        CANCEL_TRANSFER,  ///< busy: call cancelTransfer, change nothing else
        NOTHING,          ///< an edit is missing: no effect at all
        SHOW_MESSAGE,     ///< no path: show `message`, stay idle
        START_TRANSFER,   ///< set m_busy, show `look`, then call the start
    };
    Action action = Action::NOTHING;
    const char* message = nullptr;       ///< SHOW_MESSAGE; static storage
    DialogLook look = DialogLook::IDLE;  ///< START_TRANSFER: the busy look
    std::string portPath;                ///< START_TRANSFER: "\\.\COM<n>" from the port text
    uint8_t skipResetVector = 0;         ///< START_TRANSFER of a download
};

/// The decision for a start click. `imagePath` and `portText` are the edits' texts, null
/// when that edit is missing; `checkBoxState` is the check box's BM_GETSTATE bits (1
/// checked, 2 indeterminate), read on every download click. A path is not trimmed.
StartDecision decideStart(TransferKind kind, int busy, const std::string* imagePath,
                          const std::string* portText, unsigned checkBoxState);

/// Carries a start decision out on `engine` for the image (or crypt output) at `path`:
/// cancels, does nothing, calls `showStatus` with the message, or calls `showBusy` with the
/// busy look and then starts the transfer. Main thread.
void carryOutStart(const StartDecision& decision, TransferKind kind, const std::string& path,
                   const TransferEngine& engine,
                   const std::function<void(const char* message)>& showStatus,
                   const std::function<void(DialogLook busyLook)>& showBusy);

/// The status text for WM_TRANSFER_DONE's first parameter: the result's message, or the
/// empty text for a result above 11. Static storage.
const char* transferDoneMessage(uintptr_t wParam);

/// One entry of a file dialog's filter.
struct FileFilter {
    std::string name;     ///< "Binary (*.bin)"
    std::string pattern;  ///< "*.bin"
    friend bool operator==(const FileFilter&, const FileFilter&) = default;
};

/// The entries of a filter in the "name|pattern|name|pattern||" notation; parsing stops at
/// the first empty field, so a name without a pattern is dropped.
std::vector<FileFilter> parseFileFilter(std::string_view filter);

}  // namespace tarnlink
