// Linked into test programs only, in place of the link's own serialLinkCloseWaitMs: the
// close gives up on a stuck reader after 1.5 s instead of 20 s, so its give-up can be
// tested in seconds. The programs never link this file.
#include "link/serial_link_close_wait.h"

namespace tarnlink {

uint32_t serialLinkCloseWaitMs() {
    return 1500;
}

}  // namespace tarnlink
