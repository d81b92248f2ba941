#include "cli/report/record_file.h"

#include <gtest/gtest.h>

#include <latch>
#include <sstream>
#include <thread>

#include "cli/report/json_report.h"
#include "cli/system/locked_file.h"
#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

nlohmann::ordered_json report(const std::string& port, const std::string& file, uint8_t result) {
    TransferReport r;
    r.port = port;
    r.file = file;
    r.result = result;
    r.seconds = 1.5;
    r.retries = 2;
    r.digest = FileDigest{64, std::string(64, 'f')};
    r.usbSerial = "A10K3BQZ";
    r.time = "2026-12-08T01:02:03.004Z";
    return transferReportJson(r);
}

TEST(RecordFileTest, OneLinePerBoardWithQuotingWhereNeeded) {
    // The columns of older versions first, in their places; the image's at the end.
    EXPECT_EQ(recordHeader(),
              "time,port,usb_serial,command,file,sha256,result,seconds,retries,format,image_sha256,"
              "base,serial\n");
    EXPECT_EQ(recordLine(report("/dev/ttyUSB0", "fw.bin", 0)),
              "2026-12-08T01:02:03.004Z,/dev/ttyUSB0,A10K3BQZ,load,fw.bin," + std::string(64, 'f') +
                  ",SUCCESS,1.500,2,,,,\n");
    // A comma or a quote in a path is quoted; a newline would split the record: a space.
    EXPECT_EQ(recordLine(report("/dev/tty\"x\"", "a,b\nc.bin", 6)),
              "2026-12-08T01:02:03.004Z,\"/dev/tty\"\"x\"\"\",A10K3BQZ,load,\"a,b c.bin\"," +
                  std::string(64, 'f') + ",TARGET_TIMEOUT,1.500,2,,,,\n");

    TransferReport verify;
    verify.kind = TransferKind::VERIFY;
    verify.port = "COM3";
    verify.file = "fw.s19";
    verify.result = 7;
    verify.digest = FileDigest{300, std::string(64, 'a')};
    verify.format = "srec";
    verify.imageSha256 = std::string(64, 'b');
    verify.base = 0x08000000;
    verify.serial = "00:1B:63:84:45:E6";
    EXPECT_EQ(recordLine(transferReportJson(verify)),
              ",COM3,,verify,fw.s19," + std::string(64, 'a') + ",VERIFY_FAILED,0.000,0,srec," +
                  std::string(64, 'b') + ",0x08000000,00:1B:63:84:45:E6\n");

    TransferReport crypt;
    crypt.kind = TransferKind::CRYPT;
    crypt.port = "COM3";
    crypt.file = "crypt-COM3.bin";
    crypt.result = 11;
    EXPECT_EQ(recordLine(transferReportJson(crypt)),
              ",COM3,,crypt,crypt-COM3.bin,,CRYPT_UPLOADED,0.000,0,,,,\n");
}

TEST(RecordFileTest, HeaderOnlyOnceAndEveryLineWholeWhenManyAppendAtOnce) {
    test::TempDir dir;
    const std::string path = dir.file("record.csv");
    constexpr int WRITERS = 8;
    constexpr int LINES = 25;
    std::vector<std::thread> writers;
    for (int w = 0; w < WRITERS; ++w) {
        writers.emplace_back([&, w] {
            // A long file name makes every line bigger than what one write of a careless
            // implementation would keep together.
            const std::string file = "image-" + std::to_string(w) + "-" + std::string(3000, 'x');
            for (int i = 0; i < LINES; ++i) {
                std::string error;
                EXPECT_TRUE(appendRecord(path, report("port" + std::to_string(w), file, 0), &error))
                    << error;
            }
        });
    }
    for (std::thread& t : writers) {
        t.join();
    }
    const std::vector<uint8_t> bytes = test::readFile(path);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line + "\n", recordHeader());
    int count = 0;
    for (; std::getline(in, line); ++count) {
        const size_t port = line.find(",port");
        ASSERT_NE(port, std::string::npos) << line.substr(0, 80);
        const char w = line[port + 5];
        EXPECT_NE(line.find(",image-" + std::string(1, w) + "-" + std::string(3000, 'x') + ","),
                  std::string::npos)
            << "line " << count << " mixes two boards";
        EXPECT_TRUE(line.ends_with(",SUCCESS,1.500,2,,,,")) << line.substr(line.size() - 30);
    }
    EXPECT_EQ(count, WRITERS * LINES);
}

TEST(RecordFileTest, ANewFileGetsOneHeaderHoweverManyStartAtOnce) {
    test::TempDir dir;
    constexpr int ROUNDS = 40;
    constexpr int WRITERS = 6;
    for (int round = 0; round < ROUNDS; ++round) {
        const std::string path = dir.file("r" + std::to_string(round) + ".csv");
        std::latch ready(WRITERS);
        std::vector<std::thread> writers;
        for (int w = 0; w < WRITERS; ++w) {
            writers.emplace_back([&] {
                ready.arrive_and_wait();
                std::string error;
                EXPECT_TRUE(appendWithHeader(path, "header\n", "line\n", &error)) << error;
            });
        }
        for (std::thread& t : writers) {
            t.join();
        }
        const std::vector<uint8_t> bytes = test::readFile(path);
        const std::string text(bytes.begin(), bytes.end());
        ASSERT_EQ(text.rfind("header\n", 0), 0u) << text;
        ASSERT_EQ(text.find("header", 1), std::string::npos) << "round " << round << ":\n" << text;
    }
}

}  // namespace
}  // namespace tarnlink
