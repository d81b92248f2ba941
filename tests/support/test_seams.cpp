#include "tests/support/test_seams.h"

#include <memory>
#include <mutex>

namespace tarnlink {

namespace {

std::mutex s_mutex;
std::shared_ptr<test::TestSeamHandler> s_handler;

std::shared_ptr<test::TestSeamHandler> currentHandler() {
    std::lock_guard lock(s_mutex);
    return s_handler;
}

}  // namespace

// Called by the engine; the handler runs outside the lock, since it may block until
// another thread reaches a seam of its own.
bool testSeam(TestSeam seam, uint32_t detail) {
    const auto handler = currentHandler();
    return handler && *handler && (*handler)(seam, detail);
}

namespace test {

ScopedTestSeams::ScopedTestSeams(TestSeamHandler handler) {
    auto installed = std::make_shared<TestSeamHandler>(std::move(handler));
    std::lock_guard lock(s_mutex);
    s_handler = std::move(installed);
}

ScopedTestSeams::~ScopedTestSeams() {
    std::lock_guard lock(s_mutex);
    s_handler.reset();
}

}  // namespace test
}  // namespace tarnlink
