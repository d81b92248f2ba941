#include <gtest/gtest.h>

#include "cli/report/json_report.h"
#include "cli/report/transfer_events.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

std::vector<std::string> keys(const nlohmann::ordered_json& j) {
    std::vector<std::string> out;
    for (const auto& item : j.items()) {
        out.push_back(item.key());
    }
    return out;
}

TEST(JsonReportTest, LoadReportHasEveryFieldInOrder) {
    TransferReport r;
    r.port = "/dev/ttyUSB0";
    r.file = "fw.bin";
    r.result = VERIFY_FAILED;
    r.blocks = 12;
    r.seconds = 3.25049;
    r.digest = FileDigest{1000, std::string(64, 'a')};
    r.format = "elf";
    r.imageSha256 = std::string(64, 'c');
    r.base = 0xFFFFFFFF00000000u;  // a 64-bit ELF's address, beyond a double's exact range
    r.usbSerial = "A10K3BQZ";
    r.retries = 4;
    r.detail = "Block 2 (target address 0x0020) did not verify";
    r.time = "2026-12-08T01:02:03.004Z";
    const nlohmann::ordered_json j = transferReportJson(r);
    EXPECT_EQ(keys(j), (std::vector<std::string>{
                           "port",   "command",       "result",     "name",        "message",
                           "blocks", "seconds",       "image",      "bytes",       "sha256",
                           "format", "image_sha256",  "base",       "serial",      "usb_serial",
                           "retries", "detail", "turnaround_ms", "efficiency", "cpu_seconds",
                           "time"}));
    EXPECT_EQ(j["command"], "load");
    EXPECT_EQ(j["result"], 7);
    EXPECT_EQ(j["name"], "VERIFY_FAILED");
    EXPECT_EQ(j["message"], "Verification of download failed");
    EXPECT_DOUBLE_EQ(j["seconds"].get<double>(), 3.25);
    EXPECT_EQ(j["bytes"], 1000);
    EXPECT_EQ(j["format"], "elf");
    EXPECT_EQ(j["image_sha256"], std::string(64, 'c'));
    EXPECT_EQ(j["base"], "0xFFFFFFFF00000000");
    EXPECT_EQ(j["usb_serial"], "A10K3BQZ");
    EXPECT_EQ(j["retries"], 4);
    EXPECT_EQ(j["detail"], r.detail);
    EXPECT_EQ(jsonResult(j), std::optional<uint8_t>(7));
}

TEST(JsonReportTest, CryptReportNamesTheOutputAndUnknownsAreNull) {
    TransferReport r;
    r.kind = TransferKind::CRYPT;
    r.port = "COM3";
    r.file = "crypt-COM3.bin";
    r.result = 200;  // no name, no message: still valid JSON
    r.seconds = -1;
    const nlohmann::ordered_json j = transferReportJson(r);
    EXPECT_EQ(j["command"], "crypt");
    EXPECT_EQ(j["output"], "crypt-COM3.bin");
    EXPECT_FALSE(j.contains("image"));
    EXPECT_EQ(j["name"], "");
    EXPECT_EQ(j["seconds"], 0.0);
    for (const char* key : {"bytes", "sha256", "format", "image_sha256", "base", "serial", "usb_serial",
                            "detail", "turnaround_ms", "efficiency", "cpu_seconds"}) {
        EXPECT_TRUE(j[key].is_null()) << key;
    }
    EXPECT_EQ(nlohmann::ordered_json::parse(j.dump()), j);
}

TEST(JsonReportTest, VerifyReportNamesTheImage) {
    TransferReport r;
    r.kind = TransferKind::VERIFY;
    r.file = "fw.hex";
    r.base = 0;
    const nlohmann::ordered_json j = transferReportJson(r);
    EXPECT_EQ(j["command"], "verify");
    EXPECT_EQ(j["image"], "fw.hex");
    EXPECT_FALSE(j.contains("output"));
    EXPECT_EQ(j["base"], "0x00000000");
}

TEST(JsonReportTest, LineFiguresAreNumbersOnceMeasured) {
    TransferReport r;
    r.line.exchanges = 32;
    r.line.turnaroundMs = 16.2154;
    r.line.efficiency = 0.1234;
    r.cpuSeconds = 0.04567;
    const nlohmann::ordered_json j = transferReportJson(r);
    EXPECT_DOUBLE_EQ(j["turnaround_ms"].get<double>(), 16.215);
    EXPECT_DOUBLE_EQ(j["efficiency"].get<double>(), 0.123);
    EXPECT_DOUBLE_EQ(j["cpu_seconds"].get<double>(), 0.0457);
}

TEST(JsonReportTest, ResultFieldIsReadOnlyWhenItIsAByte) {
    using J = nlohmann::ordered_json;
    EXPECT_EQ(jsonResult(J::parse(R"({"result": 6})")), std::optional<uint8_t>(6));
    for (const char* bad : {R"({"result": -1})", R"({"result": 256})", R"({"result": "6"})",
                            R"({"result": 6.5})", R"({})", R"([6])", R"(6)"}) {
        EXPECT_FALSE(jsonResult(J::parse(bad))) << bad;
    }
    EXPECT_EQ(jsonText(J::parse(R"({"a": "x", "b": 1})"), "a"), "x");
    EXPECT_EQ(jsonText(J::parse(R"({"a": "x", "b": 1})"), "b"), "");
}

TEST(TransferEventsTest, TimesAreUtcWithMilliseconds) {
    using namespace std::chrono;
    EXPECT_EQ(isoTimeUtc(system_clock::time_point{}), "1970-01-01T00:00:00.000Z");
    // 2024-02-29 23:59:59.999 UTC: a leap day, the last millisecond of it.
    const system_clock::time_point leap{milliseconds(1709251199999)};
    EXPECT_EQ(isoTimeUtc(leap), "2024-02-29T23:59:59.999Z");
}

TEST(TransferEventsTest, StatusEventCarriesThePictureAndReadsBack) {
    ProgressSnapshot s;
    s.status = "Sending Data Packet 3";
    s.phase = "write";
    s.percent = 8;
    s.blocksDone = 3;
    s.blocksTotal = 40;
    s.bytesPerSecond = 2210.54;
    const nlohmann::ordered_json event = statusEvent("/dev/ttyUSB0", s);
    EXPECT_EQ(keys(event),
              (std::vector<std::string>{"event", "port", "time", "text", "phase", "percent",
                                        "blocks_done", "blocks_total", "bytes_per_second"}));
    EXPECT_EQ(event["event"], "status");
    const std::string line = eventLine(event);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);  // one line
    const ProgressSnapshot back = snapshotFromEvent(nlohmann::ordered_json::parse(line));
    EXPECT_EQ(back.status, s.status);
    EXPECT_EQ(back.phase, "write");
    EXPECT_EQ(back.percent, 8);
    EXPECT_EQ(back.blocksDone, 3u);
    EXPECT_EQ(back.blocksTotal, 40u);
    EXPECT_DOUBLE_EQ(back.bytesPerSecond, 2210.5);

    // A crypt has no percent and no total: null, and unknown again when read back.
    ProgressSnapshot crypt;
    crypt.phase = "read";
    const ProgressSnapshot cryptBack = snapshotFromEvent(statusEvent("p", crypt));
    EXPECT_EQ(cryptBack.percent, -1);
    EXPECT_EQ(cryptBack.blocksTotal, 0u);
    EXPECT_EQ(cryptBack.bytesPerSecond, -1);
}

TEST(TransferEventsTest, SnapshotFromAStrangeEventStaysInRange) {
    const ProgressSnapshot s = snapshotFromEvent(nlohmann::ordered_json::parse(
        R"({"text": 5, "phase": null, "percent": 1e9, "blocks_done": -3, "blocks_total": "x"})"));
    EXPECT_EQ(s.status, "");
    EXPECT_EQ(s.percent, 100);
    EXPECT_EQ(s.blocksDone, 0u);
    EXPECT_EQ(s.blocksTotal, 0u);
    EXPECT_EQ(snapshotFromEvent(nlohmann::ordered_json::parse("[1, 2]")).status, "");
}

TEST(TransferEventsTest, ResultEventPutsTheEventFieldsFirst) {
    TransferReport r;
    r.port = "/dev/ttyUSB1";
    r.time = "2026-12-08T01:02:03.004Z";
    const nlohmann::ordered_json event = resultEvent(transferReportJson(r));
    const std::vector<std::string> k = keys(event);
    ASSERT_GE(k.size(), 4u);
    EXPECT_EQ((std::vector<std::string>(k.begin(), k.begin() + 4)),
              (std::vector<std::string>{"event", "port", "time", "command"}));
    EXPECT_EQ(event["time"], r.time);
    EXPECT_EQ(event["result"], 0);
    // Text that is not UTF-8 (a port name from a strange device) is replaced, not thrown.
    EXPECT_NO_THROW(eventLine(newEvent("status", std::string("tty\xff\xfe"))));
}

}  // namespace
}  // namespace tarnlink
