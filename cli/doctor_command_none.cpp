// The platforms without a doctor: no subcommand, and advice that names the adapter's own
// settings.
#include "cli/doctor_command.h"

namespace tarnlink {

CLI::App* addDoctorCommand(CLI::App&, DoctorOptions&) {
    return nullptr;
}

int runDoctorCommand(const DoctorOptions&) {
    return 64;
}

std::string slowLineAdvice(const std::string&) {
    return "a USB serial adapter that holds answers back: set its latency timer to 1 ms in "
           "the port's advanced driver settings";
}

}  // namespace tarnlink
