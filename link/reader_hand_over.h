#pragma once
// Who releases a link whose close stopped waiting for its reader: the close itself when the
// reader has ended after all, otherwise the reader once its callback returns. Both backends
// decide it here, so both follow the same rule.

#include <atomic>

#include "link/serial_link.h"

namespace tarnlink {

/// What an abandoned reader does last, after it has released the link.
struct ReaderEndAction {
    ReaderEndHandler handler = nullptr;
    void* context = nullptr;

    void run() const {
        if (handler != nullptr) {
            handler(context);
        }
    }
};

/// One per link. Each side calls its function once; the one that comes second releases.
class ReaderHandOver {
public:
    /// The close stops waiting and leaves `onEnd` for the reader. True when the reader has
    /// ended meanwhile: the close then releases the link itself and nothing is handed over.
    bool closeGivesUp(ReaderEndAction onEnd);

    /// The reader's last look at the link. True when the close has given up on it: the
    /// reader must then release the link and run `onEnd` (filled in here), in that order.
    bool readerEnds(ReaderEndAction& onEnd);

private:
    ReaderEndAction m_onEnd;  // written before m_oneGone's exchange, read after it
    std::atomic<bool> m_oneGone{false};
};

}  // namespace tarnlink
