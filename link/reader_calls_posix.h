#pragma once
// The system call through which the POSIX reader waits for its port. The shipped programs
// call the system directly; the copy of the link that the tests build with
// TARNLINK_LINK_TEST_SEAMS calls it through a table that a test may change, to make the
// system fail in ways that a pseudo-terminal cannot.

#include <poll.h>

#ifdef TARNLINK_LINK_TEST_SEAMS
#include <atomic>

namespace tarnlink {

using PollCall = int (*)(pollfd* fds, nfds_t count, int timeoutMs);

/// The calls every reader of the process makes. A test may change them at any moment.
struct ReaderCalls {
    std::atomic<PollCall> poll{&::poll};
};

inline ReaderCalls& readerCalls() {
    static ReaderCalls calls;
    return calls;
}

}  // namespace tarnlink

#define TARNLINK_READER_CALL(name) (::tarnlink::readerCalls().name.load())
#else
#define TARNLINK_READER_CALL(name) (::name)
#endif
