// What the main dialog decides, whatever toolkit shows it, where the dialogs' own tests
// cannot reach: every look, an edit that is missing, every check-box state, any result
// byte, odd filters. (A start, a cancel and the messages are tested on both dialogs.)

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/dialog_actions.h"
#include "ui/dialog_texts.h"

using namespace tarnlink;

namespace {

using Action = StartDecision::Action;

struct LookRow {
    DialogLook look;
    std::string loadText;
    bool loadShown;
    std::string cryptText;
    bool cryptShown;
    bool progressShown;
};

TEST(DialogActions, EachLookSetsTheThreeControls) {
    const LookRow rows[] = {
        {DialogLook::IDLE, "Load Image", true, "Crypt Image", true, false},
        {DialogLook::DOWNLOADING, "Cancel", true, "Crypt Image", false, true},
        {DialogLook::READING_CRYPT, "Load Image", false, "Cancel", true, true},
    };
    for (const LookRow& row : rows) {
        const LookOfControls& controls = controlsOf(row.look);
        SCOPED_TRACE(row.loadText + "/" + row.cryptText);
        EXPECT_EQ(controls.loadText, row.loadText);
        EXPECT_EQ(controls.loadShown, row.loadShown);
        EXPECT_EQ(controls.cryptText, row.cryptText);
        EXPECT_EQ(controls.cryptShown, row.cryptShown);
        EXPECT_EQ(controls.progressShown, row.progressShown);
    }
}

TEST(DialogActions, MissingEditDoesNothing) {
    const std::string text = "x";
    for (TransferKind kind : {TransferKind::DOWNLOAD, TransferKind::CRYPT_READ_BACK}) {
        EXPECT_EQ(decideStart(kind, 0, nullptr, &text, 0).action, Action::NOTHING);
        EXPECT_EQ(decideStart(kind, 0, &text, nullptr, 0).action, Action::NOTHING);
    }
}

TEST(DialogActions, CheckBoxStateSetsTheFlagOfADownloadOnly) {
    const std::string path = "a.bin";
    const std::string port = "1";
    // BM_GETSTATE bits: 1 checked, 2 indeterminate, 4 pushed, 8 focused.
    const struct {
        unsigned state;
        uint8_t skip;
    } rows[] = {{0, 0}, {1, 1}, {2, 1}, {3, 1}, {4, 0}, {8, 0}, {9, 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.state);
        EXPECT_EQ(decideStart(TransferKind::DOWNLOAD, 0, &path, &port, row.state).skipResetVector,
                  row.skip);
        EXPECT_EQ(
            decideStart(TransferKind::CRYPT_READ_BACK, 0, &path, &port, row.state).skipResetVector,
            0);
    }
}

TEST(DialogActions, TransferDoneMessageFromTheLowByte) {
    EXPECT_STREQ(transferDoneMessage(0), "Download completed successfully");
    EXPECT_STREQ(transferDoneMessage(8), "Download canceled");
    EXPECT_STREQ(transferDoneMessage(10), "SERIALPORT_ERROR");
    EXPECT_STREQ(transferDoneMessage(11), "Crypto uploaded successfully.");
    EXPECT_STREQ(transferDoneMessage(12), "");
    EXPECT_STREQ(transferDoneMessage(255), "");
    EXPECT_STREQ(transferDoneMessage(0x10A), "SERIALPORT_ERROR");
}

TEST(DialogActions, FileFilterEntries) {
    EXPECT_EQ(parseFileFilter(BROWSE_FILTER),
              (std::vector<FileFilter>{{"Binary (*.bin)", "*.bin"}, {"All Files (*.*)", "*.*"}}));
    EXPECT_EQ(parseFileFilter("Hex|*.hex"), (std::vector<FileFilter>{{"Hex", "*.hex"}}));
    EXPECT_EQ(parseFileFilter("Hex|*.hex||Bin|*.bin||"),
              (std::vector<FileFilter>{{"Hex", "*.hex"}}));
    EXPECT_TRUE(parseFileFilter("").empty());
    EXPECT_TRUE(parseFileFilter("||").empty());
    EXPECT_TRUE(parseFileFilter("Name only|").empty());
    EXPECT_TRUE(parseFileFilter("Name only").empty());
}

}  // namespace
