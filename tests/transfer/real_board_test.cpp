// Against a real board: runs only when TARNLINK_TEST_PORT names its serial port, e.g.
//   TARNLINK_TEST_PORT=/dev/ttyUSB0 ctest --test-dir build -R RealBoard
// It flashes a small image, verifies and enables it, then reads the crypt back. The Windows
// build also runs it under Wine against the simulated target, mapped in as a COM port
// (scripts/wine-with-pty names it in TARNLINK_TEST_COM_PORT).

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/support/notification_recorder.h"
#include "tests/support/temp_dir.h"
#include "transfer/crypt_worker.h"
#include "transfer/download_worker.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

TEST(RealBoard, DownloadThenCryptReadBack) {
    std::string port = std::getenv("TARNLINK_TEST_PORT") ? std::getenv("TARNLINK_TEST_PORT") : "";
    if (port.empty() && std::getenv("TARNLINK_TEST_COM_PORT")) {
        port = std::string("\\\\.\\") + std::getenv("TARNLINK_TEST_COM_PORT");
    }
    if (port.empty()) {
        GTEST_SKIP() << "TARNLINK_TEST_PORT is not set";
    }
    auto recorder = std::make_shared<test::NotificationRecorder>();
    setNotificationTarget(recorder);
    test::TempDir dir;
    std::vector<uint8_t> image(1000);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 7);
    }
    const std::string imagePath = dir.write("image.bin", image);
    const std::string cryptPath = dir.file("crypt.bin");

    startDownload(imagePath.c_str(), port.c_str(), 0);
    EXPECT_EQ(recorder->waitForResult(60000), SUCCESS);
    startCryptReadBack(cryptPath.c_str(), port.c_str());
    EXPECT_EQ(recorder->waitForResult(60000, 2), CRYPT_UPLOADED);
    // The crypt covers at least the image's 16 blocks.
    EXPECT_GE(test::readFile(cryptPath).size(), 1024u);
    clearNotificationTarget();
}

}  // namespace
}  // namespace tarnlink
