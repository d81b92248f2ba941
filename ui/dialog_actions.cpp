#include "ui/dialog_actions.h"

#include <algorithm>

#include "transfer/transfer_context.h"
#include "ui/dialog_texts.h"
#include "ui/port_path.h"

namespace tarnlink {

namespace {

constexpr LookOfControls kIdle{TEXT_LOAD_IMAGE, true, TEXT_CRYPT_IMAGE, true, false};
constexpr LookOfControls kDownloading{TEXT_CANCEL, true, TEXT_CRYPT_IMAGE, false, true};
constexpr LookOfControls kReadingCrypt{TEXT_LOAD_IMAGE, false, TEXT_CANCEL, true, true};

}  // namespace

const LookOfControls& controlsOf(DialogLook look) {
    switch (look) {
        case DialogLook::DOWNLOADING:
            return kDownloading;
        case DialogLook::READING_CRYPT:
            return kReadingCrypt;
        case DialogLook::IDLE:
            break;
    }
    return kIdle;
}

StartDecision decideStart(TransferKind kind, int busy, const std::string* imagePath,
                          const std::string* portText, unsigned checkBoxState) {
    StartDecision decision;
    if (busy != 0) {
        decision.action = StartDecision::Action::CANCEL_TRANSFER;
        return decision;
    }
    const bool download = kind == TransferKind::DOWNLOAD;
    if (imagePath == nullptr || portText == nullptr) {
        return decision;
    }
    if (imagePath->empty()) {
        decision.action = StartDecision::Action::SHOW_MESSAGE;
        decision.message = download ? TEXT_NO_IMAGE_PATH : TEXT_NO_CRYPT_PATH;
        return decision;
    }
    decision.action = StartDecision::Action::START_TRANSFER;
    decision.look = download ? DialogLook::DOWNLOADING : DialogLook::READING_CRYPT;
    decision.portPath = portPathFromText(*portText);
    // Checked or indeterminate both skip the reset vector.
    decision.skipResetVector = download && (checkBoxState & 3) != 0 ? 1 : 0;
    return decision;
}

void carryOutStart(const StartDecision& decision, TransferKind kind, const std::string& path,
                   const TransferEngine& engine,
                   const std::function<void(const char* message)>& showStatus,
                   const std::function<void(DialogLook busyLook)>& showBusy) {
    switch (decision.action) {
        case StartDecision::Action::CANCEL_TRANSFER:
            engine.cancelTransfer();
            return;
        case StartDecision::Action::NOTHING:
            return;
        case StartDecision::Action::SHOW_MESSAGE:
            showStatus(decision.message);
            return;
        case StartDecision::Action::START_TRANSFER:
            break;
    }
    // The busy look comes before the start call: a start that fails at once reports
    // through WM_TRANSFER_DONE, which must find the busy look to undo it.
    showBusy(decision.look);
    if (kind == TransferKind::DOWNLOAD) {
        engine.startDownload(path.c_str(), decision.portPath.c_str(), decision.skipResetVector);
    } else {
        engine.startCryptReadBack(path.c_str(), decision.portPath.c_str());
    }
}

const char* transferDoneMessage(uintptr_t wParam) {
    return transferResultMessage(static_cast<unsigned>(wParam & 0xFF));
}

std::vector<FileFilter> parseFileFilter(std::string_view filter) {
    std::vector<FileFilter> entries;
    for (;;) {
        const size_t nameEnd = filter.find('|');
        if (nameEnd == std::string_view::npos || nameEnd == 0) {
            break;
        }
        // The last pattern may lack its closing '|'.
        const size_t patternEnd = std::min(filter.find('|', nameEnd + 1), filter.size());
        if (patternEnd == nameEnd + 1) {
            break;
        }
        entries.push_back({std::string(filter.substr(0, nameEnd)),
                           std::string(filter.substr(nameEnd + 1, patternEnd - nameEnd - 1))});
        filter.remove_prefix(std::min(patternEnd + 1, filter.size()));
    }
    return entries;
}

}  // namespace tarnlink
