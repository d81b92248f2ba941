#include "cli/station/station_plan.h"

#include "platform/utf8_path.h"

#include <cctype>
#include <filesystem>
#include <map>

#include "cli/ports/port_name.h"
#include "link/serial_link.h"

namespace tarnlink {

namespace {

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

std::vector<std::string> usbPorts(const std::vector<SerialPortInfo>& available) {
    std::vector<std::string> ports;
    for (const SerialPortInfo& port : available) {
        if (isUsbSerialPort(port)) {
            ports.push_back(port.devicePath);
        }
    }
    return ports;
}

std::string sanitized(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool keep =
            std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
        out += keep ? c : '_';
    }
    return out;
}

// "\\.\COM3" -> "COM3"; "/dev/ttyUSB0" -> "ttyUSB0".
std::string deviceName(const std::string& port) {
    const std::string path = portPathFromArgument(port);
    const size_t cut = path.find_last_of("/\\");
    const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    return sanitized(name.empty() ? path : name);
}

std::string wholePathTag(const std::string& port) {
    std::string path = portPathFromArgument(port);
    if (path.rfind("/dev/", 0) == 0) {
        path.erase(0, 5);
    }
    while (!path.empty() && (path.front() == '/' || path.front() == '\\')) {
        path.erase(0, 1);
    }
    return sanitized(path);
}

}  // namespace

PortChoice choosePorts(const std::vector<std::string>& arguments,
                       const std::string& environmentPort,
                       const std::vector<SerialPortInfo>& available, bool loop) {
    PortChoice choice;
    std::vector<std::string> named = arguments;
    if (named.empty() && !environmentPort.empty()) {
        named.push_back(environmentPort);
    }
    if (named.empty()) {
        choice.error = "no port: give --port PORT, or set TARNLINK_PORT";
        choice.usageError = true;
        return choice;
    }
    const bool special = named[0] == "all" || named[0] == "auto";
    if (named.size() > 1) {
        for (const std::string& port : named) {
            if (port == "all" || port == "auto") {
                choice.error =
                    "--port " + port + " stands alone; it cannot be combined with other ports";
                choice.usageError = true;
                return choice;
            }
        }
    }
    if (special) {
        const std::vector<std::string> usb = usbPorts(available);
        if (named[0] == "auto") {
            if (usb.size() != 1) {
                choice.error = usb.empty() ? "--port auto: no USB serial port found"
                                           : "--port auto: " + std::to_string(usb.size()) +
                                                 " USB serial ports (" + joined(usb) +
                                                 "); name one with --port";
                return choice;
            }
            choice.ports = usb;
            choice.station = loop;
            return choice;
        }
        if (usb.empty()) {
            choice.error = "--port all: no USB serial port found";
            return choice;
        }
        choice.ports = usb;
        choice.station = true;
        return choice;
    }
    std::map<std::string, std::string> seen;
    for (const std::string& port : named) {
        const std::string path = portPathFromArgument(port);
        if (path.empty()) {
            choice.error = "--port '" + port +
                           "' names no port; give a device path, a COM number from 1, or COMn";
            choice.usageError = true;
            return choice;
        }
        const std::string key = portDeviceKey(serialPortDevicePath(path));
        if (auto [it, fresh] = seen.emplace(key, port); !fresh) {
            choice.error = "--port " + it->second + " and --port " + port +
                           " name the same port; a board can be flashed only once at a time";
            choice.usageError = true;
            return choice;
        }
    }
    choice.ports = named;
    choice.station = named.size() > 1 || loop;
    return choice;
}

std::vector<std::string> portFileTags(const std::vector<std::string>& ports) {
    std::vector<std::string> tags;
    std::map<std::string, int> count;
    for (const std::string& port : ports) {
        tags.push_back(deviceName(port));
        ++count[tags.back()];
    }
    for (size_t i = 0; i < ports.size(); ++i) {
        if (count[tags[i]] > 1) {
            tags[i] = wholePathTag(ports[i]);
        }
    }
    return tags;
}

std::string boardFilePath(const std::string& path, const std::string& tag, unsigned number) {
    // Through UTF-8 both ways: a plain std::string is the ANSI code page to a Windows path.
    const std::filesystem::path original = pathFromUtf8(path);
    std::string name = utf8FromPath(original.stem()) + "-" + tag;
    if (number != 0) {
        name += "-" + std::to_string(number);
    }
    name += utf8FromPath(original.extension());
    return utf8FromPath(original.parent_path() / pathFromUtf8(name));
}

}  // namespace tarnlink
