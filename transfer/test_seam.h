#pragma once
// Points where a test can step into the engine: hold a thread at a chosen instant, change
// the context, or make a step fail. They exist only in the copy of the engine that the tests
// build with TARNLINK_TEST_SEAMS; in the shipped programs both macros compile to nothing.

#include <cstdint>

namespace tarnlink {

enum class TestSeam : uint8_t {
    LINK_OPENED,       ///< start, UI thread: the link is open and its reader runs
    WORKER_STARTING,   ///< start, UI thread: the worker thread is about to be made; may throw
    COUNTERS_PRESET,   ///< worker: packetIndex and address preset, nothing sent yet
    ANSWER_TAKEN,      ///< worker: its wait ended with its answer taken, nothing changed yet
    READ_ACCEPTED,     ///< reader: a read answer was taken, not yet signalled; detail: address
    ANSWER_ACCEPTED,   ///< reader: another answer was taken, not yet signalled; detail: command
    RESPONSE_HANDLED,  ///< reader: a response frame has been dealt with; detail: command << 16 |
                       ///< address
    FILE_CLOSE,        ///< the transfer's file was closed; failing makes the close count as failed
};

#ifdef TARNLINK_TEST_SEAMS
/// Defined by the test program; runs on the thread that reaches the seam. True asks the step
/// to fail, where the step allows it.
bool testSeam(TestSeam seam, uint32_t detail);
#define TARNLINK_TEST_SEAM(seam, detail) \
    static_cast<void>(::tarnlink::testSeam(::tarnlink::TestSeam::seam, (detail)))
#define TARNLINK_TEST_SEAM_FAILS(seam) ::tarnlink::testSeam(::tarnlink::TestSeam::seam, 0)
#else
#define TARNLINK_TEST_SEAM(seam, detail) static_cast<void>(0)
#define TARNLINK_TEST_SEAM_FAILS(seam) false
#endif

}  // namespace tarnlink
