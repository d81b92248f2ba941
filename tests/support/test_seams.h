#pragma once
// The test side of the engine's seams (transfer/test_seam.h): a test installs one handler
// that every seam calls, on whichever thread reaches it. Only programs that link the
// engine built with its seams (tarnlink_engine_seams) can use this.

#include <cstdint>
#include <functional>

#include "transfer/test_seam.h"

namespace tarnlink::test {

/// Returns true to make the step at the seam fail (where it can). May block or throw.
using TestSeamHandler = std::function<bool(TestSeam seam, uint32_t detail)>;

/// Installs `handler` (empty: none) until the returned guard goes out of scope.
class ScopedTestSeams {
  public:
    explicit ScopedTestSeams(TestSeamHandler handler);
    ~ScopedTestSeams();
    ScopedTestSeams(const ScopedTestSeams&) = delete;
    ScopedTestSeams& operator=(const ScopedTestSeams&) = delete;
};

}  // namespace tarnlink::test
