#include "cli/doctor/finding.h"

namespace tarnlink::doctor {

const char* statusText(Status status) {
    switch (status) {
        case Status::OK:
            return "ok";
        case Status::WARN:
            return "warn";
        case Status::FAIL:
            return "fail";
    }
    return "fail";
}

}  // namespace tarnlink::doctor
