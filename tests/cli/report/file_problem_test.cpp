#include "cli/report/file_problem.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

TEST(FileProblemTest, OnlyACryptsOutputIsLookedAt) {
    test::TempDir dir;
    const std::string missing = dir.file("missing.bin");
    // An image never reaches the engine unread: the engine's file results say nothing here.
    EXPECT_EQ(fileProblemText(TransferKind::LOAD, IMAGE_FILE_ERROR, missing), "");
    EXPECT_EQ(fileProblemText(TransferKind::VERIFY, BAD_IMAGE_FILE, missing), "");
    // Results that are not about the file say nothing.
    EXPECT_EQ(fileProblemText(TransferKind::CRYPT, TARGET_TIMEOUT, missing), "");
    EXPECT_EQ(fileProblemText(TransferKind::CRYPT, BAD_IMAGE_FILE, missing), "");
}

TEST(FileProblemTest, OutputProblemsNeverLeaveAFileBehind) {
    test::TempDir dir;
    const std::string inMissingFolder = dir.file("no-folder/crypt.bin");
    EXPECT_EQ(fileProblemText(TransferKind::CRYPT, IMAGE_FILE_ERROR, inMissingFolder),
              inMissingFolder + ": no folder " + dir.file("no-folder"));
    EXPECT_EQ(fileProblemText(TransferKind::CRYPT, IMAGE_FILE_ERROR, dir.path()),
              dir.path() + ": Is a directory");
    // A path the probe could create after all is taken away again.
    const std::string fine = dir.file("crypt.bin");
    EXPECT_EQ(fileProblemText(TransferKind::CRYPT, IMAGE_FILE_ERROR, fine),
              fine + ": could not be created");
    EXPECT_FALSE(std::filesystem::exists(fine));
}

}  // namespace
}  // namespace tarnlink
