#include "link/reader_hand_over.h"

namespace tarnlink {

bool ReaderHandOver::closeGivesUp(ReaderEndAction onEnd) {
    m_onEnd = onEnd;
    return m_oneGone.exchange(true);
}

bool ReaderHandOver::readerEnds(ReaderEndAction& onEnd) {
    if (!m_oneGone.exchange(true)) {
        return false;  // the close is still waiting, or will find the reader ended
    }
    onEnd = m_onEnd;
    return true;
}

}  // namespace tarnlink
