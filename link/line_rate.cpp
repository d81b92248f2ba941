#include "link/line_rate.h"

namespace tarnlink {

bool reportedRateAccepted(uint32_t reported, uint32_t wanted) {
    const uint64_t difference = reported > wanted ? reported - wanted : wanted - reported;
    return difference * 50 <= wanted;
}

}  // namespace tarnlink
