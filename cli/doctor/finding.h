#pragma once
// One line of the doctor's report: what was checked, how it stands, what was found, and
// the command that fixes it.

#include <string>

namespace tarnlink::doctor {

enum class Status { OK, WARN, FAIL };

struct Finding {
    std::string subject;  ///< the port ("/dev/ttyUSB0"), or "system"
    std::string check;    ///< "port", "access", "holder", "modem-manager", ...
    Status status = Status::OK;
    std::string found;  ///< what the doctor saw, in a sentence
    std::string fix;    ///< an exact shell command; empty when there is nothing to run
};

/// "ok", "warn", "fail".
const char* statusText(Status status);

}  // namespace tarnlink::doctor
