// What the main dialog decides, whatever toolkit shows it: the looks, a start click, the
// message at the end of a transfer, the file dialog's filter.

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

TEST(DialogActions, BusyClickOnlyCancelsWhateverTheFieldsHold) {
    const std::string empty;
    const std::string path = "image.bin";
    for (TransferKind kind : {TransferKind::DOWNLOAD, TransferKind::CRYPT_READ_BACK}) {
        EXPECT_EQ(decideStart(kind, 1, &path, &path, 0).action, Action::CANCEL_TRANSFER);
        EXPECT_EQ(decideStart(kind, 1, &empty, &empty, 3).action, Action::CANCEL_TRANSFER);
        EXPECT_EQ(decideStart(kind, 1, nullptr, nullptr, 0).action, Action::CANCEL_TRANSFER);
    }
}

TEST(DialogActions, MissingEditDoesNothing) {
    const std::string text = "x";
    for (TransferKind kind : {TransferKind::DOWNLOAD, TransferKind::CRYPT_READ_BACK}) {
        EXPECT_EQ(decideStart(kind, 0, nullptr, &text, 0).action, Action::NOTHING);
        EXPECT_EQ(decideStart(kind, 0, &text, nullptr, 0).action, Action::NOTHING);
    }
}

TEST(DialogActions, EmptyPathShowsTheKindsMessage) {
    const std::string empty;
    const std::string port = "3";
    const StartDecision load = decideStart(TransferKind::DOWNLOAD, 0, &empty, &port, 0);
    EXPECT_EQ(load.action, Action::SHOW_MESSAGE);
    EXPECT_STREQ(load.message, "Please specify a file to transmit");
    const StartDecision crypt = decideStart(TransferKind::CRYPT_READ_BACK, 0, &empty, &port, 0);
    EXPECT_EQ(crypt.action, Action::SHOW_MESSAGE);
    EXPECT_STREQ(crypt.message,
                 "Please specify path & name of a binary file to receive the crypt.");
}

TEST(DialogActions, StartTakesTheBusyLookAndThePortPath) {
    const std::string blanks = "   ";  // not trimmed: a path of blanks is a path
    const std::string port = "  12x";
    const StartDecision load = decideStart(TransferKind::DOWNLOAD, 0, &blanks, &port, 0);
    EXPECT_EQ(load.action, Action::START_TRANSFER);
    EXPECT_EQ(load.look, DialogLook::DOWNLOADING);
    EXPECT_EQ(load.portPath, "\\\\.\\COM12");
    const StartDecision crypt = decideStart(TransferKind::CRYPT_READ_BACK, 0, &blanks, &port, 0);
    EXPECT_EQ(crypt.action, Action::START_TRANSFER);
    EXPECT_EQ(crypt.look, DialogLook::READING_CRYPT);
    EXPECT_EQ(crypt.portPath, "\\\\.\\COM12");
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
