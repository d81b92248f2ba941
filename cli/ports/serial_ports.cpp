#include "cli/ports/serial_ports.h"

namespace tarnlink {

namespace {

std::string quoted(const std::string& text) {
    return nlohmann::ordered_json(text).dump(-1, ' ', false,
                                             nlohmann::ordered_json::error_handler_t::replace);
}

nlohmann::ordered_json textOrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

}  // namespace

bool isUsbSerialPort(const SerialPortInfo& port) {
    return !port.vendorId.empty();
}

std::string formatSerialPort(const SerialPortInfo& port) {
    std::string line = port.devicePath;
    line += " " + (port.driver.empty() ? std::string("-") : port.driver);
    if (!port.vendorId.empty() || !port.productId.empty()) {
        line += " " + port.vendorId + ":" + port.productId;
    }
    if (!port.serialNumber.empty()) {
        line += " serial=" + quoted(port.serialNumber);
    }
    if (!port.product.empty()) {
        line += " product=" + quoted(port.product);
    }
    if (!port.manufacturer.empty()) {
        line += " manufacturer=" + quoted(port.manufacturer);
    }
    if (port.latencyTimerMs >= 0) {
        line += " latency_timer=" + std::to_string(port.latencyTimerMs) + "ms";
    }
    return line;
}

nlohmann::ordered_json serialPortJson(const SerialPortInfo& port) {
    nlohmann::ordered_json j;
    j["device"] = port.devicePath;
    j["name"] = port.name;
    j["driver"] = textOrNull(port.driver);
    j["usb"] = isUsbSerialPort(port);
    j["vendor_id"] = textOrNull(port.vendorId);
    j["product_id"] = textOrNull(port.productId);
    j["serial"] = textOrNull(port.serialNumber);
    j["product"] = textOrNull(port.product);
    j["manufacturer"] = textOrNull(port.manufacturer);
    j["latency_timer_ms"] =
        port.latencyTimerMs >= 0 ? nlohmann::ordered_json(port.latencyTimerMs) : nullptr;
    return j;
}

}  // namespace tarnlink
