// A station looks at a waiting COM port ten times a second: while the port is not there,
// the look ends at the DOS device table and never walks SetupAPI.
#include "cli/ports/com_presence.h"

#include <gtest/gtest.h>

namespace tarnlink {
namespace {

struct PresenceCase {
    const char* name;
    std::optional<std::string> dosTarget;
    std::optional<std::string> identity;
    const char* presence;
    int walks;  ///< how often SetupAPI is walked
};

class ComPresenceTest : public ::testing::TestWithParam<PresenceCase> {};

TEST_P(ComPresenceTest, TheDeviceTableFirstSetupApiOnlyForAPortThatIsThere) {
    int walks = 0;
    const std::string presence = presenceText("COM7", GetParam().dosTarget, [&] {
        ++walks;
        return GetParam().identity;
    });
    EXPECT_EQ(presence, GetParam().presence);
    EXPECT_EQ(walks, GetParam().walks);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, ComPresenceTest,
    ::testing::Values(PresenceCase{"Absent", std::nullopt,
                                   std::string("USB\\VID_0403&PID_6001\\A1"), "", 0},
                      PresenceCase{"KnownAdapter", std::string("\\Device\\VCP0"),
                                   std::string("FTDIBUS\\VID_0403+PID_6001+A1\\0000"),
                                   "COM7|FTDIBUS\\VID_0403+PID_6001+A1\\0000", 1},
                      PresenceCase{"OnlyADosDevice", std::string("/dev/pts/4"), std::nullopt,
                                   "COM7|/dev/pts/4", 1}),
    [](const ::testing::TestParamInfo<PresenceCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tarnlink
