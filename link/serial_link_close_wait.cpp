#include "link/serial_link_close_wait.h"

namespace tarnlink {

// Only this definition may live in this file: a test that links its own
// serialLinkCloseWaitMs keeps the linker from pulling this one out of the library.
uint32_t serialLinkCloseWaitMs() {
    return 20000;
}

}  // namespace tarnlink
