#include <windows.h>
// setupapi.h and cfgmgr32.h need windows.h first.
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cstring>

#include "cli/ports/com_presence.h"
#include "cli/ports/port_order.h"
#include "cli/ports/serial_ports.h"
#include "cli/ports/windows_device_ids.h"
#include "link/port_name.h"
#include "platform/utf16_text.h"

namespace tarnlink {

namespace {

// The serial port interface, and the "Ports (COM & LPT)" class for the drivers that
// register no interface.
constexpr GUID COM_PORT_INTERFACE = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
constexpr GUID PORTS_CLASS = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

struct ComPort {
    SerialPortInfo info;
    std::string identity;  ///< what tells this device from the next one on the same name
};

std::string comName(int number) {
    return "COM" + std::to_string(number);
}

// Every text of the system is read with the wide calls and kept in UTF-8: the narrow ones
// give the ANSI code page, which a friendly name in Polish or Japanese does not fit into.
std::string registryText(HKEY key, const wchar_t* value) {
    wchar_t text[256];
    DWORD size = sizeof text - sizeof text[0];
    DWORD type = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    text[std::min<DWORD>(size / sizeof text[0], 255)] = L'\0';
    return utf8FromUtf16(text);  // up to the first NUL, which REG_SZ may or may not hold
}

// A device's registry property as text, or as its list of texts for a REG_MULTI_SZ.
std::vector<std::string> deviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - 2 * sizeof buffer[0], nullptr)) {
        return {};
    }
    std::vector<std::string> texts;
    for (const wchar_t* text = buffer; text < buffer + 1024 && *text != L'\0';
         text += std::wcslen(text) + 1) {
        texts.push_back(utf8FromUtf16(text));
        if (type != REG_MULTI_SZ) {
            break;
        }
    }
    return texts;
}

std::string firstOf(const std::vector<std::string>& texts) {
    return texts.empty() ? std::string() : texts.front();
}

std::string instanceIdOf(DEVINST device) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    return CM_Get_Device_IDW(device, id, MAX_DEVICE_ID_LEN + 1, 0) == CR_SUCCESS ? utf8FromUtf16(id)
                                                                                 : std::string();
}

// The serial number: in the port's own instance id, or for a port that a driver made on a
// USB device (an FTDI port, an interface of a composite device) in its parent's.
std::string usbSerialOf(DEVINST device) {
    for (int level = 0; level < 3; ++level) {
        const std::string serial = usbSerialFromInstanceId(instanceIdOf(device));
        DEVINST parent = 0;
        if (!serial.empty() || CM_Get_Parent(&parent, device, 0) != CR_SUCCESS) {
            return serial;
        }
        device = parent;
    }
    return {};
}

void addSetupApiPorts(const GUID& guid, DWORD flags, std::vector<ComPort>& ports) {
    const HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, flags | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        const HKEY key =
            SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        const std::optional<int> number = comPortNumber(registryText(key, L"PortName"));
        RegCloseKey(key);
        if (!number) {
            continue;  // a printer port of the same class
        }
        ComPort port;
        port.info.name = comName(*number);
        port.info.devicePath = port.info.name;
        port.info.driver = firstOf(deviceProperty(set, device, SPDRP_SERVICE));
        port.info.product = firstOf(deviceProperty(set, device, SPDRP_FRIENDLYNAME));
        const UsbIds ids = usbIdsFromHardwareIds(deviceProperty(set, device, SPDRP_HARDWAREID));
        port.info.vendorId = ids.vendorId;
        port.info.productId = ids.productId;
        if (!ids.vendorId.empty()) {
            port.info.manufacturer = firstOf(deviceProperty(set, device, SPDRP_MFG));
            port.info.serialNumber = usbSerialOf(device.DevInst);
        }
        port.identity = instanceIdOf(device.DevInst);
        ports.push_back(std::move(port));
    }
    SetupDiDestroyDeviceInfoList(set);
}

// The system's own list of the serial ports that are there now: "\Device\Serial0" = "COM1".
void addSerialCommPorts(std::vector<ComPort>& ports) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameSize = 256;  // in characters
        wchar_t data[256] = {};
        DWORD dataSize = sizeof data - sizeof data[0];  // in bytes
        DWORD type = 0;
        const LONG rc = RegEnumValueW(key, i, name, &nameSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        if (const std::optional<int> number = comPortNumber(utf8FromUtf16(data))) {
            ComPort port;
            port.info.name = comName(*number);
            port.info.devicePath = port.info.name;
            port.identity = utf8FromUtf16(std::wstring_view(name, nameSize));
            ports.push_back(std::move(port));
        }
    }
    RegCloseKey(key);
}

// Every COM port once, SetupAPI's account first (it knows the adapter), the registry's
// list for the ports SetupAPI does not know; in natural order.
std::vector<ComPort> comPorts() {
    std::vector<ComPort> found;
    addSetupApiPorts(COM_PORT_INTERFACE, DIGCF_DEVICEINTERFACE, found);
    addSetupApiPorts(PORTS_CLASS, 0, found);
    addSerialCommPorts(found);
    std::vector<ComPort> ports;
    for (ComPort& port : found) {
        const bool known = std::any_of(ports.begin(), ports.end(), [&](const ComPort& p) {
            return p.info.name == port.info.name;
        });
        if (!known) {
            ports.push_back(std::move(port));
        }
    }
    std::sort(ports.begin(), ports.end(), [](const ComPort& a, const ComPort& b) {
        return naturalPortLess(a.info.name, b.info.name);
    });
    return ports;
}

std::optional<ComPort> comPort(const std::string& devicePath) {
    const std::optional<int> number = comPortNumber(devicePath);
    if (!number) {
        return std::nullopt;
    }
    for (ComPort& port : comPorts()) {
        if (port.info.name == comName(*number)) {
            return std::move(port);
        }
    }
    return std::nullopt;
}

// What the DOS device `name` ("COM3") stands for ("\\Device\\Serial0"); nothing when there
// is no such device.
std::optional<std::string> dosDeviceTarget(const std::string& name) {
    wchar_t target[1024];
    const std::optional<std::wstring> wideName = utf16FromUtf8(name);
    if (!wideName || QueryDosDeviceW(wideName->c_str(), target, 1024) == 0) {
        return std::nullopt;
    }
    return utf8FromUtf16(target);
}

}  // namespace

const PortNameExamples& portNameExamples() {
    static const PortNameExamples examples{"COM3", "COM4", "COM3",
                                           R"(COM3 (any case), a COM number (3) or \\.\COM12)",
                                           R"(COM3, 3, \\.\COM12)"};
    return examples;
}

std::vector<SerialPortInfo> availableSerialPorts() {
    std::vector<SerialPortInfo> ports;
    for (ComPort& port : comPorts()) {
        ports.push_back(std::move(port.info));
    }
    return ports;
}

std::string portDeviceKey(const std::string& devicePath) {
    const std::optional<int> number = comPortNumber(devicePath);
    return number ? comName(*number) : devicePath;
}

std::optional<SerialPortInfo> findSerialPort(const std::string& devicePath) {
    std::optional<ComPort> port = comPort(devicePath);
    if (!port) {
        return std::nullopt;
    }
    return std::move(port->info);
}

std::string portPresence(const std::string& devicePath) {
    // Every COM port that is there is a DOS device: that one look at the system's name
    // table is cheap, while SetupAPI reads the registry for every port of the machine. A
    // station asks ten times a second for each waiting board.
    const std::optional<int> number = comPortNumber(devicePath);
    const std::optional<std::string> target =
        number ? dosDeviceTarget(comName(*number)) : std::nullopt;
    return presenceText(comName(number.value_or(0)), target, [&]() -> std::optional<std::string> {
        std::optional<ComPort> port = comPort(devicePath);
        return port ? std::optional(port->identity) : std::nullopt;
    });
}

}  // namespace tarnlink
