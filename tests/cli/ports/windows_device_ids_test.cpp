#include "cli/ports/windows_device_ids.h"

#include <gtest/gtest.h>

namespace tarnlink {
namespace {

struct IdsCase {
    const char* name;
    std::vector<std::string> hardwareIds;
    const char* vendor;
    const char* product;
};

class UsbIdsTest : public ::testing::TestWithParam<IdsCase> {};

TEST_P(UsbIdsTest, FindsVendorAndProduct) {
    const UsbIds ids = usbIdsFromHardwareIds(GetParam().hardwareIds);
    EXPECT_EQ(ids.vendorId, GetParam().vendor);
    EXPECT_EQ(ids.productId, GetParam().product);
}

INSTANTIATE_TEST_SUITE_P(
    HardwareIds, UsbIdsTest,
    ::testing::Values(
        IdsCase{
            "Usb", {"USB\\VID_0403&PID_6001&REV_0600", "USB\\VID_0403&PID_6001"}, "0403", "6001"},
        IdsCase{"FtdiBus", {"FTDIBUS\\COMPORT&VID_0403&PID_6015"}, "0403", "6015"},
        IdsCase{"LowerCaseDigits", {"USB\\VID_10c4&PID_EA60"}, "10c4", "ea60"},
        IdsCase{"CompositeInterface", {"USB\\VID_2341&PID_0043&MI_00"}, "2341", "0043"},
        IdsCase{"LaterIdNamesThem", {"ACPI\\PNP0501", "USB\\VID_1A86&PID_7523"}, "1a86", "7523"},
        IdsCase{"BuiltInUart", {"ACPI\\PNP0501", "*PNP0501"}, "", ""},
        IdsCase{"NotHex", {"USB\\VID_XYZW&PID_0001"}, "", ""},
        IdsCase{"CutShort", {"USB\\VID_04"}, "", ""},
        IdsCase{"KeyInsideAWord", {"ROOT\\XVID_1234&PID_5678"}, "", ""}),
    [](const ::testing::TestParamInfo<IdsCase>& info) { return info.param.name; });

struct SerialCase {
    const char* instanceId;
    const char* serial;
};

class UsbSerialTest : public ::testing::TestWithParam<SerialCase> {};

TEST_P(UsbSerialTest, OnlyADevicesOwnSerialNumber) {
    EXPECT_EQ(usbSerialFromInstanceId(GetParam().instanceId), GetParam().serial)
        << GetParam().instanceId;
}

INSTANTIATE_TEST_SUITE_P(
    InstanceIds, UsbSerialTest,
    ::testing::Values(SerialCase{"USB\\VID_0403&PID_6001\\A10K3BQZ", "A10K3BQZ"},
                      SerialCase{"usb\\vid_0403&pid_6001\\a10k3bqz", "a10k3bqz"},
                      SerialCase{"USB\\VID_1A86&PID_7523\\5&2C5E8B1&0&2", ""},  // made up
                      SerialCase{"USB\\VID_2341&PID_0043&MI_00\\6&3A1B&0&0000", ""},
                      SerialCase{"USB\\VID_2341&PID_0043&MI_00\\SERIAL", ""},  // an interface
                      SerialCase{"FTDIBUS\\VID_0403+PID_6001+A10K3BQZA\\0000", ""},
                      SerialCase{"ACPI\\PNP0501\\1", ""}, SerialCase{"USB\\", ""},
                      SerialCase{"USB\\VID_0403&PID_6001\\", ""}, SerialCase{"", ""}));

}  // namespace
}  // namespace tarnlink
