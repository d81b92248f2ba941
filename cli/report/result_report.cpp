#include "cli/report/result_report.h"

#include <cstdio>

#include "cli/system/system_error_text.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

const char* transferKindName(TransferKind kind) {
    switch (kind) {
        case TransferKind::LOAD:
            return "load";
        case TransferKind::VERIFY:
            return "verify";
        case TransferKind::CRYPT:
            break;
    }
    return "crypt";
}

int exitStatusFor(TransferKind kind, uint8_t result) {
    const uint8_t success = kind == TransferKind::CRYPT ? CRYPT_UPLOADED : SUCCESS;
    if (result == success) {
        return 0;
    }
    return result == SUCCESS ? int{GENERAL_FAILURE} : int{result};
}

std::string portOpenFailureText(const std::string& devicePath, PortOpenFailure failure, int error) {
    const std::string port = devicePath.empty() ? std::string("the port") : devicePath;
    switch (failure) {
        case PortOpenFailure::NO_SUCH_PORT:
            return port + ": no such device";
        case PortOpenFailure::ACCESS_DENIED:
            // Only Linux tells a denied permission from a port in use.
            return port +
                   ": permission denied (join the dialout group: sudo usermod -aG dialout "
                   "$USER, then log in again)";
        case PortOpenFailure::IN_USE:
            return port + ": in use by another program";
        case PortOpenFailure::NOT_A_SERIAL_DEVICE:
            return port + ": not a serial device";
        case PortOpenFailure::SETTINGS_REFUSED:
            return port + ": does not take the line settings (115200 baud, 8N1)" +
                   (error != 0 ? ": " + systemErrorText(error) : std::string());
        case PortOpenFailure::NONE:
        case PortOpenFailure::SYSTEM_ERROR:
            break;
    }
    if (error == 0) {
        return port + ": could not be opened or set up";
    }
    return port + ": " + systemErrorText(error);
}

std::string portLostText(const std::string& port) {
    return port + ": the port went away during the transfer (adapter unplugged?)";
}

std::vector<std::string> resultLines(const TransferOutcome& outcome) {
    std::vector<std::string> lines;
    const char* message = transferResultMessage(outcome.result);
    lines.push_back(*message != '\0' ? std::string(message)
                                     : "Result " + std::to_string(outcome.result));
    if (!outcome.detail.empty()) {
        lines.push_back(outcome.detail);
    } else if (outcome.result == SERIALPORT_ERROR) {
        lines.push_back(
            portOpenFailureText(outcome.devicePath, outcome.portFailure, outcome.portError));
    } else if (outcome.result == VERIFY_FAILED) {
        char text[96];
        std::snprintf(text, sizeof text, "Block %u (target address 0x%04X) did not verify",
                      static_cast<unsigned>(outcome.packetIndex),
                      static_cast<unsigned>(outcome.address));
        lines.push_back(text);
    }
    return lines;
}

}  // namespace tarnlink
