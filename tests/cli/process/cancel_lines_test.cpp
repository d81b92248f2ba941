#include "cli/process/cancel_lines.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnlink {
namespace {

struct CancelCase {
    const char* name;
    std::vector<std::string> pieces;  ///< the input as it arrives
    int cancels;                      ///< "cancel" lines found in all of it
    std::string left;                 ///< what waits for its line end
};

class CancelLinesTest : public ::testing::TestWithParam<CancelCase> {};

TEST_P(CancelLinesTest, CountsWholeCancelLinesOnly) {
    std::string pending;
    int cancels = 0;
    for (const std::string& piece : GetParam().pieces) {
        pending += piece;
        cancels += takeCancelLines(pending);
    }
    EXPECT_EQ(cancels, GetParam().cancels);
    EXPECT_EQ(pending, GetParam().left);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CancelLinesTest,
    ::testing::Values(CancelCase{"Plain", {"cancel\n"}, 1, ""},
                      CancelCase{"WindowsLineEnd", {"cancel\r\n"}, 1, ""},
                      CancelCase{"SplitAcrossReads", {"can", "cel", "\n"}, 1, ""},
                      CancelCase{"NotYetEnded", {"cancel"}, 0, "cancel"},
                      CancelCase{"OtherWords", {"cancelled\n canc\nCANCEL\n\n"}, 0, ""},
                      CancelCase{"SeveralAndARest", {"x\ncancel\ncancel\ncan"}, 2, "can"},
                      CancelCase{"OverlongLineDropped", {std::string(5000, 'x')}, 0, ""},
                      CancelCase{
                          "AfterAnOverlongLine", {std::string(5000, 'x'), "\ncancel\n"}, 1, ""}),
    [](const ::testing::TestParamInfo<CancelCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tarnlink
