// tarnlink-cli end to end: the real program as a child process against the simulated target.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <thread>

#include "sim/sim_target.h"
#include "tests/cli/cli_process.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

using test::CliProcess;
using test::CliResult;
using test::lastLine;
using test::lines;
using test::padded;
using test::runCli;
using test::sampleImage;
using test::TempDir;

std::unique_ptr<sim::SimTarget> startSim(sim::SimOptions options = {}) {
    auto target = std::make_unique<sim::SimTarget>(std::move(options));
    EXPECT_TRUE(target->start());
    return target;
}

nlohmann::json parseJson(const std::string& out) {
    // The JSON object is the only thing on stdout.
    return nlohmann::json::parse(out);
}

class CliTransferTest : public ::testing::Test {
  protected:
    TempDir m_dir;
};

// SHA-256 of sampleImage(1000), taken once with another tool.
constexpr const char* SAMPLE_1000_SHA256 =
    "86feb6339f5ec6939cc9e488bad525b04f8f5d09ad32db431327077432051a09";

TEST_F(CliTransferTest, LoadThenCryptSucceedAndReportJson) {
    auto target = startSim();
    const std::vector<uint8_t> image = sampleImage(1000);
    const std::string imagePath = m_dir.write("image.bin", image);

    CliResult load = runCli({"load", imagePath, "--port", target->portPath(), "--json"});
    ASSERT_EQ(load.exitCode, 0) << load.err;
    nlohmann::json j = parseJson(load.out);
    EXPECT_EQ(j["port"], target->portPath());
    EXPECT_EQ(j["command"], "load");
    EXPECT_EQ(j["result"], 0);
    EXPECT_EQ(j["name"], "SUCCESS");
    EXPECT_EQ(j["message"], "Download completed successfully");
    EXPECT_EQ(j["blocks"], 16);
    EXPECT_GT(j["seconds"].get<double>(), 0.0);
    EXPECT_LT(j["seconds"].get<double>(), load.seconds + 0.5);
    EXPECT_EQ(j["image"], imagePath);
    EXPECT_EQ(j["bytes"], 1000);
    EXPECT_EQ(j["sha256"], SAMPLE_1000_SHA256);
    EXPECT_TRUE(j["usb_serial"].is_null());  // a pseudo-terminal is no USB adapter
    EXPECT_EQ(j["retries"], 0);
    EXPECT_TRUE(j["detail"].is_null());
    EXPECT_GT(j["cpu_seconds"].get<double>(), 0.0);
    EXPECT_TRUE(std::regex_match(j["time"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
        << j["time"];
    EXPECT_EQ(lastLine(load.err), "Download completed successfully");
    EXPECT_EQ(target->flash(), padded(image));

    const std::string cryptPath = m_dir.file("crypt.bin");
    CliResult crypt = runCli({"crypt", cryptPath, "--port", target->portPath(), "--json"});
    ASSERT_EQ(crypt.exitCode, 0) << crypt.err;
    j = parseJson(crypt.out);
    EXPECT_EQ(j["command"], "crypt");
    EXPECT_EQ(j["result"], 11);
    EXPECT_EQ(j["name"], "CRYPT_UPLOADED");
    EXPECT_EQ(j["message"], "Crypto uploaded successfully.");
    EXPECT_EQ(j["output"], cryptPath);
    EXPECT_FALSE(j.contains("image"));
    const std::vector<uint8_t> cryptBytes = test::readFile(cryptPath);
    EXPECT_EQ(j["blocks"], cryptBytes.size() / 64);
    EXPECT_EQ(j["bytes"], cryptBytes.size());
    EXPECT_EQ(j["sha256"].get<std::string>().size(), 64u);
    EXPECT_NE(j["sha256"], SAMPLE_1000_SHA256);
    EXPECT_EQ(cryptBytes, sim::SimTarget::encrypt(target->flash()));
    EXPECT_EQ(lastLine(crypt.err), "Crypto uploaded successfully.");
}

TEST_F(CliTransferTest, RetriesCountTheRequestsSentAgain) {
    sim::SimOptions lossy;
    lossy.dropResponse = 4;  // the answer to the 3rd write: that write goes out twice
    lossy.badFcsResponse = 7;
    auto target = startSim(lossy);
    const std::vector<uint8_t> image = sampleImage(5 * 64);
    CliResult load =
        runCli({"load", m_dir.write("image.bin", image), "--port", target->portPath(), "--json"});
    ASSERT_EQ(load.exitCode, 0) << load.err;
    EXPECT_EQ(parseJson(load.out)["retries"], 2);
    EXPECT_EQ(target->flash(), padded(image));
}

TEST_F(CliTransferTest, PlainLinesShowPhasesAndTenPercentStepsWithTheRate) {
    auto target = startSim();
    const std::string imagePath = m_dir.write("image.bin", sampleImage(3 * 64 - 5));
    CliResult load = runCli({"load", imagePath, "--port", target->portPath()});
    ASSERT_EQ(load.exitCode, 0) << load.err;
    EXPECT_EQ(load.out, "");
    EXPECT_EQ(load.err.find('\r'), std::string::npos);  // no live line on a pipe
    EXPECT_EQ(load.err.find('\x1b'), std::string::npos);
    const std::vector<std::string> got = lines(load.err);
    // 47 words: the write progress is 0, 17, 34, the verify progress 50, 67, 84; each is a
    // new 10 % step, and the rate is image bytes over the time so far.
    const std::vector<std::string> expected{"Connecting to target\\.\\.\\.",
                                            "Sending Data Packet 0  0%",
                                            R"(Sending Data Packet 1  17%  \d+ (B|KiB)/s)",
                                            R"(Sending Data Packet 2  34%  [0-9.]+ (B|KiB)/s)",
                                            R"(Verifying Data Packet 0  50%  [0-9.]+ (B|KiB)/s)",
                                            R"(Verifying Data Packet 1  67%  [0-9.]+ (B|KiB)/s)",
                                            R"(Verifying Data Packet 2  84%  [0-9.]+ (B|KiB)/s)",
                                            "Download completed successfully"};
    ASSERT_EQ(got.size(), expected.size()) << load.err;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_TRUE(std::regex_match(got[i], std::regex(expected[i]))) << got[i];
    }

    CliResult verbose = runCli({"load", imagePath, "--port", target->portPath(), "--verbose"});
    EXPECT_EQ(verbose.exitCode, 0);
    EXPECT_EQ(lines(verbose.err),
              (std::vector<std::string>{"Connecting to target...", "Connecting to target...",
                                        "Sending Data Packet 0", "Sending Data Packet 1",
                                        "Sending Data Packet 2", "Verifying Data Packet 0",
                                        "Verifying Data Packet 1", "Verifying Data Packet 2",
                                        "Download completed successfully"}));

    CliResult quiet = runCli({"load", imagePath, "--port", target->portPath(), "--quiet"});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.err, "Download completed successfully\n");

    CliResult quietJson =
        runCli({"load", imagePath, "--port", target->portPath(), "--quiet", "--json"});
    EXPECT_EQ(quietJson.exitCode, 0);
    EXPECT_EQ(quietJson.err, "");
    EXPECT_EQ(parseJson(quietJson.out)["blocks"], 3);
}

TEST_F(CliTransferTest, ABigImageOnAPipeGivesAboutOneLineForEveryTenPercent) {
    auto target = startSim();
    CliResult load = runCli(
        {"load", m_dir.write("image.bin", sampleImage(400 * 64)), "--port", target->portPath()});
    ASSERT_EQ(load.exitCode, 0) << load.err;
    // Connecting, 0..40 % while writing, 50..90 % while verifying, the result.
    EXPECT_EQ(lines(load.err).size(), 12u) << load.err;
}

TEST_F(CliTransferTest, TerminalGetsOneLiveProgressLine) {
    auto target = startSim();
    const std::string imagePath = m_dir.write("image.bin", sampleImage(4 * 64));
    test::PtyPair terminal;
    CliProcess cli({"load", imagePath, "--port", target->portPath()}, {"TERM=xterm"},
                   terminal.slavePath());
    CliResult load = cli.wait(60000);
    ASSERT_EQ(load.exitCode, 0);
    const std::vector<uint8_t> raw = terminal.read(1 << 16, 500);
    const std::string shown(raw.begin(), raw.end());
    EXPECT_NE(shown.find("\rSending Data Packet 3 [##"), std::string::npos) << shown;
    EXPECT_NE(shown.find("/4 blocks"), std::string::npos) << shown;
    EXPECT_NE(shown.find("%"), std::string::npos) << shown;
    // The live line is wiped before the result, which stands on its own line at the end.
    EXPECT_NE(shown.find("\r\x1b[KDownload completed successfully"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("Sending Data Packet 0\n"), std::string::npos) << "no plain lines";
}

struct FailureCase {
    const char* name;
    sim::SimOptions sim;
    bool missingImage;
    int exitCode;
    const char* message;
    const char* why;  ///< the line after the message ({image}: the image's path), or null
};

sim::SimOptions simWith(void (*set)(sim::SimOptions&)) {
    sim::SimOptions options;
    set(options);
    return options;
}

class CliFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(CliFailureTest, ExitsWithTheResultNumber) {
    const FailureCase& c = GetParam();
    TempDir dir;
    auto target = startSim(c.sim);
    const std::string imagePath =
        c.missingImage ? dir.file("no-such-image.bin") : dir.write("image.bin", sampleImage(200));
    CliResult load = runCli({"load", imagePath, "--port", target->portPath(), "--json"});
    EXPECT_EQ(load.exitCode, c.exitCode) << load.err;
    const nlohmann::json j = parseJson(load.out);
    EXPECT_EQ(j["result"], c.exitCode);
    EXPECT_EQ(j["message"], c.message);
    const std::vector<std::string> err = lines(load.err);
    ASSERT_FALSE(err.empty());
    if (c.why == nullptr) {
        EXPECT_EQ(err.back(), c.message);
    } else {
        ASSERT_GE(err.size(), 2u);
        EXPECT_EQ(err[err.size() - 2], c.message);
        std::string why = c.why;
        if (const size_t at = why.find("{image}"); at != std::string::npos) {
            why.replace(at, 7, imagePath);
        }
        EXPECT_EQ(err.back(), why);
        EXPECT_EQ(j["detail"], why);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Results, CliFailureTest,
    ::testing::Values(
        FailureCase{"SilentTarget", simWith([](sim::SimOptions& o) { o.silent = true; }), false, 6,
                    "Timeout waiting for response from target", nullptr},
        FailureCase{"RefusedWrite", simWith([](sim::SimOptions& o) { o.refuseWrite = 2; }), false,
                    1, "General Failure", nullptr},
        FailureCase{"MissingImage",
                    {},
                    true,
                    4,
                    "Unable to open image file",
                    "{image}: No such file or directory"},
        FailureCase{"CorruptBlock", simWith([](sim::SimOptions& o) { o.corruptBlock = 3; }), false,
                    7, "Verification of download failed",
                    "Block 2 (target address 0x0020) did not verify"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(CliTransferTest, PortThatCannotBeOpenedSaysWhy) {
    CliResult gone = runCli({"load", m_dir.write("i.bin", {1}), "--port", m_dir.file("ttyGone")});
    EXPECT_EQ(gone.exitCode, 10);
    EXPECT_EQ(
        lines(gone.err),
        (std::vector<std::string>{"SERIALPORT_ERROR", m_dir.file("ttyGone") + ": no such device"}));

    CliResult notTty = runCli({"load", m_dir.write("i.bin", {1}), "--port", m_dir.file("i.bin")});
    EXPECT_EQ(notTty.exitCode, 10);
    EXPECT_EQ(lastLine(notTty.err), m_dir.file("i.bin") + ": not a serial device");
}

TEST_F(CliTransferTest, UsageErrorExits64WithAHint) {
    CliResult r = runCli({"load", "--port", "/dev/null"});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_EQ(lines(r.err).size(), 1u);
    EXPECT_NE(r.err.find("--help"), std::string::npos);
    EXPECT_EQ(runCli({"--version"}).out, std::string("tarnlink-cli ") + TARNLINK_VERSION + "\n");
}

TEST_F(CliTransferTest, InterruptCancelsAndFreesThePort) {
    sim::SimOptions slow;
    slow.delayMs = 20;  // about 50 blocks a second: time enough to interrupt
    auto target = startSim(slow);
    const std::string imagePath = m_dir.write("image.bin", sampleImage(256 * 64));
    CliProcess cli({"load", imagePath, "--port", target->portPath(), "--json"});
    ASSERT_TRUE(cli.waitForStderr("Sending Data Packet 0", 20000)) << cli.currentStderr();
    const auto interrupted = std::chrono::steady_clock::now();
    cli.sendSignal(SIGINT);
    CliResult r = cli.wait(10000);
    EXPECT_EQ(r.exitCode, 8) << r.err;
    EXPECT_EQ(lastLine(r.err), "Download canceled");
    EXPECT_EQ(parseJson(r.out)["name"], "DOWNLOAD_CANCELED");
    // The whole image would take 10 s; the cancel ends it within one wait.
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(5));

    // The port is free again: the next load on it goes through.
    const std::string small = m_dir.write("small.bin", sampleImage(64));
    CliResult again = runCli({"load", small, "--port", target->portPath()});
    EXPECT_EQ(again.exitCode, 0) << again.err;
}

// After the transfer nothing is left to cancel: a signal ends the program at once, whatever
// it waits for then (here the record's lock, held by another line's process).
TEST_F(CliTransferTest, SignalAfterTheTransferQuitsAtOnce) {
    sim::SimOptions slow;
    slow.delayMs = 20;  // time enough to take the record's lock after its header is written
    auto target = startSim(slow);
    const std::string record = m_dir.file("record.jsonl");
    CliProcess cli({"load", m_dir.write("image.bin", sampleImage(16 * 64)), "--port",
                    target->portPath(), "--record", record});
    ASSERT_TRUE(cli.waitForStderr("Sending Data Packet 0", 20000)) << cli.currentStderr();
    const int held = ::open(record.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    ASSERT_TRUE(cli.waitForStderr("Download completed successfully", 20000)) << cli.currentStderr();
    const auto signalled = std::chrono::steady_clock::now();
    cli.sendSignal(SIGTERM);
    const CliResult r = cli.wait(10000);
    const auto took = std::chrono::steady_clock::now() - signalled;
    ::close(held);
    EXPECT_TRUE(r.signal == SIGTERM || r.exitCode == 128 + SIGTERM) << r.err;
    EXPECT_EQ(lastLine(r.err), "Interrupted after the transfer: quitting");
    EXPECT_LT(took, std::chrono::seconds(3));  // within a second, with room for a busy machine
}

// An adapter unplugged in the middle of a transfer: the target's pseudo-terminal closes and
// its node goes away. The port is named as the user gave it (here a symlink to the node).
class CliLostPortTest : public ::testing::TestWithParam<const char*> {};

TEST_P(CliLostPortTest, NamesThePortThatWentAwayAndEndsAtOnce) {
    const bool load = std::string(GetParam()) == "load";
    TempDir dir;
    sim::SimOptions slow;
    slow.delayMs = 10;  // about 50 blocks a second
    slow.linkPath = dir.file("ttyBoard");
    slow.flashIn = dir.write("flash.bin", sampleImage(256 * 64));
    auto target = startSim(slow);
    const std::string file =
        load ? dir.write("image.bin", sampleImage(256 * 64)) : dir.file("crypt.bin");
    CliProcess cli({GetParam(), file, "--port", slow.linkPath, "--json", "--verbose"});
    ASSERT_TRUE(
        cli.waitForStderr(load ? "Sending Data Packet 5" : "Reading crypto binary: 5", 20000))
        << cli.currentStderr();
    const auto unplugged = std::chrono::steady_clock::now();
    target->stop();
    CliResult r = cli.wait(10000);
    const std::string detail =
        slow.linkPath + ": the port went away during the transfer (adapter unplugged?)";
    EXPECT_EQ(r.exitCode, 10) << r.err;
    const std::vector<std::string> err = lines(r.err);
    ASSERT_GE(err.size(), 2u);
    EXPECT_EQ(err[err.size() - 2], "SERIALPORT_ERROR");
    EXPECT_EQ(err.back(), detail);
    const nlohmann::json j = parseJson(r.out);
    EXPECT_EQ(j["name"], "SERIALPORT_ERROR");
    EXPECT_EQ(j["detail"], detail);
    // The retries alone would take 3 s before blaming the target.
    EXPECT_LT(std::chrono::steady_clock::now() - unplugged, std::chrono::milliseconds(2000));
}

INSTANTIATE_TEST_SUITE_P(Commands, CliLostPortTest, ::testing::Values("load", "crypt"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(CliTransferTest, SecondInterruptQuitsAtOnce) {
    // Writes go unanswered: the cancel waits for the end of a 500 ms wait, so the second
    // Ctrl-C comes while the transfer still runs.
    sim::SimOptions mute;
    mute.muteCommand = 0x01;
    auto target = startSim(mute);
    const std::string imagePath = m_dir.write("image.bin", sampleImage(256 * 64));
    CliProcess cli({"load", imagePath, "--port", target->portPath()});
    ASSERT_TRUE(cli.waitForStderr("Sending Data Packet 0", 20000)) << cli.currentStderr();
    cli.sendSignal(SIGINT);
    ASSERT_TRUE(cli.waitForStderr("Canceling", 5000));
    cli.sendSignal(SIGINT);
    CliResult r = cli.wait(5000);
    EXPECT_EQ(r.signal, SIGINT) << r.err;
    EXPECT_NE(r.err.find("Interrupted again"), std::string::npos) << r.err;
}

struct TraceLine {
    bool sent;
    std::vector<uint8_t> bytes;
    bool operator==(const TraceLine&) const = default;
};

std::vector<TraceLine> parseTrace(const std::string& text, std::vector<double>* times) {
    std::vector<TraceLine> frames;
    for (const std::string& line : lines(text)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream in(line);
        double seconds = -1;
        std::string direction;
        in >> seconds >> direction;
        EXPECT_TRUE(direction == "TX" || direction == "RX") << line;
        TraceLine frame{direction == "TX", {}};
        for (std::string hex; in >> hex;) {
            EXPECT_EQ(hex.size(), 2u) << line;
            frame.bytes.push_back(static_cast<uint8_t>(std::stoul(hex, nullptr, 16)));
        }
        times->push_back(seconds);
        frames.push_back(frame);
    }
    return frames;
}

TEST_F(CliTransferTest, TraceHoldsTheFramesTheTargetSawInOrder) {
    auto target = startSim();
    const std::string tracePath = m_dir.file("load.trace");
    CliResult load = runCli({"load", m_dir.write("image.bin", sampleImage(130)), "--port",
                             target->portPath(), "--trace", tracePath});
    ASSERT_EQ(load.exitCode, 0) << load.err;
    const std::vector<uint8_t> raw = test::readFile(tracePath);
    const std::string text(raw.begin(), raw.end());
    ASSERT_EQ(text.rfind("# tarnlink-cli load ", 0), 0u) << text;

    std::vector<double> times;
    const std::vector<TraceLine> traced = parseTrace(text, &times);
    std::vector<TraceLine> logged;
    for (const sim::LoggedFrame& f : target->frames()) {
        logged.push_back({f.fromHost, f.bytes});
    }
    EXPECT_EQ(traced, logged);
    // 3 blocks: handshake, 3 writes, 3 reads, enable, each answered; a probe before.
    EXPECT_GE(traced.size(), 16u);
    for (size_t i = 1; i < times.size(); ++i) {
        EXPECT_LE(times[i - 1], times[i]) << "line " << i;
    }
}

// stderr is a pipe that nobody reads, and a worker is stuck writing its status into it,
// holding the console's lock. The first signal asks for a cancel, which cannot be shown;
// the second must end the program at once, by that same signal, and the trace must hold
// every frame that went over the line up to then.
class CliBlockedStderrTest : public ::testing::TestWithParam<int> {
  protected:
    TempDir m_dir;
};

TEST_P(CliBlockedStderrTest, SecondSignalQuitsAndTheTraceKeepsTheLastFrames) {
    const int signal = GetParam();
    auto target = startSim();
    const std::string fifo = m_dir.file("stderr.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const int capacity = ::fcntl(reader, F_SETPIPE_SZ, 4096);  // fills after a few lines
    ASSERT_GT(capacity, 0);
    const std::string tracePath = m_dir.file("load.trace");
    // --verbose: a line per status text, so the pipe fills within the first blocks.
    CliProcess cli({"load", m_dir.write("image.bin", sampleImage(1000 * 64)), "--port",
                    target->portPath(), "--trace", tracePath, "--verbose"},
                   {}, fifo);
    // Full, and no longer moving: the worker is blocked in its write.
    int last = -1;
    int steady = 0;
    for (int i = 0; i < 2000 && steady < 20; ++i) {
        int queued = 0;
        ASSERT_EQ(::ioctl(reader, FIONREAD, &queued), 0);
        steady = queued == last && queued > capacity - 100 ? steady + 1 : 0;
        last = queued;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(steady, 20) << "stderr never filled up: " << last << " bytes";

    cli.sendSignal(signal);
    ASSERT_TRUE(cli.waitSignalTaken(5000));
    cli.sendSignal(signal);
    CliResult r = cli.wait(5000);
    ::close(reader);
    EXPECT_EQ(r.signal, signal) << "exit code " << r.exitCode;

    const std::vector<uint8_t> raw = test::readFile(tracePath);
    std::vector<double> times;
    const std::vector<TraceLine> traced = parseTrace(std::string(raw.begin(), raw.end()), &times);
    std::vector<TraceLine> logged;
    for (const sim::LoggedFrame& f : target->frames()) {
        logged.push_back({f.fromHost, f.bytes});
    }
    EXPECT_GE(logged.size(), 10u);
    EXPECT_EQ(traced, logged) << "the trace lacks frames that went over the line";
}

INSTANTIATE_TEST_SUITE_P(Signals, CliBlockedStderrTest, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) {
                             return std::string(info.param == SIGINT ? "Interrupt" : "Terminate");
                         });

TEST_F(CliTransferTest, TwoLoadsAtOnceOnTwoPortsBothSucceed) {
    auto first = startSim();
    auto second = startSim();
    const std::vector<uint8_t> imageA = sampleImage(40 * 64 + 7, 3);
    const std::vector<uint8_t> imageB = sampleImage(33 * 64, 4);
    CliProcess a({"load", m_dir.write("a.bin", imageA), "--port", first->portPath(), "--trace",
                  m_dir.file("a.trace")});
    CliProcess b({"load", m_dir.write("b.bin", imageB), "--port", second->portPath(), "--trace",
                  m_dir.file("b.trace")});
    CliResult ra = a.wait(60000);
    CliResult rb = b.wait(60000);
    EXPECT_EQ(ra.exitCode, 0) << ra.err;
    EXPECT_EQ(rb.exitCode, 0) << rb.err;
    EXPECT_EQ(first->flash(), padded(imageA));
    EXPECT_EQ(second->flash(), padded(imageB));
}

TEST_F(CliTransferTest, CryptKeepsAnExistingOutputUnlessForced) {
    auto target = startSim();
    ASSERT_EQ(runCli({"load", m_dir.write("image.bin", sampleImage(300)), "--port",
                      target->portPath(), "--quiet"})
                  .exitCode,
              0);
    const std::vector<uint8_t> old{'k', 'e', 'e', 'p'};
    const std::string output = m_dir.write("crypt.bin", old);
    CliResult refused = runCli({"crypt", output, "--port", target->portPath(), "--json"});
    EXPECT_EQ(refused.exitCode, 4);
    EXPECT_EQ(parseJson(refused.out)["name"], "IMAGE_FILE_ERROR");
    EXPECT_EQ(lastLine(refused.err), output + " already exists; --force overwrites it");
    EXPECT_EQ(test::readFile(output), old);
    EXPECT_EQ(target->transfersEnded(), 1u);  // nothing was asked of the target

    CliResult forced = runCli({"crypt", output, "--port", target->portPath(), "--force"});
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_EQ(test::readFile(output), sim::SimTarget::encrypt(target->flash()));
}

TEST(CliPortsTest, ListsTheFakeTree) {
    CliResult r = runCli({"ports"}, 10000,
                         {std::string("TARNLINK_SYSFS_ROOT=") + TARNLINK_CLI_TEST_DATA + "/sysfs"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> got = lines(r.out);
    ASSERT_EQ(got.size(), 5u) << r.out;
    EXPECT_EQ(got[0],
              "/dev/ttyACM0 cdc_acm 2e8a:000a serial=\"E6614C311B7C5A2D\" product=\"Pico\" "
              "manufacturer=\"Raspberry Pi\"");
    EXPECT_EQ(got[3],
              "/dev/ttyUSB0 ftdi_sio 0403:6001 serial=\"A10K3BQZ\" product=\"FT232R USB UART\" "
              "manufacturer=\"FTDI\" latency_timer=16ms");
}

}  // namespace
}  // namespace tarnlink

namespace tarnlink {
namespace {

const std::string kFakeSysfs =
    std::string("TARNLINK_SYSFS_ROOT=") + TARNLINK_CLI_TEST_DATA + "/sysfs";

TEST(CliPortsTest, JsonListsEveryPortWithItsFields) {
    CliResult r = runCli({"ports", "--json"}, 10000, {kFakeSysfs});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const nlohmann::json list = nlohmann::json::parse(r.out);
    ASSERT_TRUE(list.is_array());
    ASSERT_EQ(list.size(), 5u);
    const nlohmann::json& ftdi = list[3];
    EXPECT_EQ(ftdi["device"], "/dev/ttyUSB0");
    EXPECT_EQ(ftdi["usb"], true);
    EXPECT_EQ(ftdi["vendor_id"], "0403");
    EXPECT_EQ(ftdi["serial"], "A10K3BQZ");
    EXPECT_EQ(ftdi["latency_timer_ms"], 16);
    EXPECT_EQ(list[1]["device"], "/dev/ttyS0");
    EXPECT_EQ(list[1]["usb"], false);
    EXPECT_TRUE(list[1]["serial"].is_null());
}

TEST(CliPortTest, PortComesFromTheEnvironmentWhenNotGiven) {
    TempDir dir;
    auto target = startSim();
    const std::string image = dir.write("image.bin", sampleImage(100));
    CliResult r = runCli({"load", image, "--json"}, 60000, {"TARNLINK_PORT=" + target->portPath()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(parseJson(r.out)["port"], target->portPath());

    CliResult none = runCli({"load", image});
    EXPECT_EQ(none.exitCode, 64);
    EXPECT_NE(none.err.find("TARNLINK_PORT"), std::string::npos) << none.err;
}

TEST(CliPortTest, AutoFailsNamingTheCandidatesUnlessThereIsOne) {
    TempDir dir;
    CliResult r =
        runCli({"load", dir.write("i.bin", {1}), "--port", "auto", "--json"}, 10000, {kFakeSysfs});
    EXPECT_EQ(r.exitCode, 10);
    const std::string why =
        "--port auto: 3 USB serial ports (/dev/ttyACM0, /dev/ttyUSB0, /dev/ttyUSB1); name one "
        "with --port";
    EXPECT_EQ(lines(r.err), (std::vector<std::string>{"SERIALPORT_ERROR", why}));
    EXPECT_EQ(parseJson(r.out)["detail"], why);
}

TEST(CliEventsTest, OneBoardStreamsEveryStatusProgressAndItsResult) {
    TempDir dir;
    auto target = startSim();
    const std::string record = dir.file("record.csv");
    CliResult r = runCli({"load", dir.write("image.bin", sampleImage(3 * 64)), "--port",
                          target->portPath(), "--events", "--json", "--record", record});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> kinds;
    std::vector<std::string> texts;
    for (const std::string& line : lines(r.out)) {
        const nlohmann::json e = nlohmann::json::parse(line);
        EXPECT_EQ(e["port"], target->portPath());
        kinds.push_back(e["event"]);
        if (e["event"] == "status") {
            texts.push_back(e["text"]);
        }
    }
    // --json adds nothing to --events: the result event is the report.
    EXPECT_EQ(kinds.back(), "result");
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "result"), 1);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "progress"), 6);
    EXPECT_EQ(texts,
              (std::vector<std::string>{"Connecting to target...", "Connecting to target...",
                                        "Sending Data Packet 0", "Sending Data Packet 1",
                                        "Sending Data Packet 2", "Verifying Data Packet 0",
                                        "Verifying Data Packet 1", "Verifying Data Packet 2"}));
    const std::vector<uint8_t> raw = test::readFile(record);
    const std::vector<std::string> rows = lines(std::string(raw.begin(), raw.end()));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NE(rows[1].find("," + target->portPath() + ",,load,"), std::string::npos) << rows[1];
}

TEST(CliWaitTest, OneBoardWaitsForItsPortOrGivesUp) {
    TempDir dir;
    const std::string image = dir.write("image.bin", sampleImage(64));
    CliResult gone = runCli({"load", image, "--port", dir.file("nothing"), "--wait", "0.3"});
    EXPECT_EQ(gone.exitCode, 10);
    EXPECT_EQ(lastLine(gone.err), dir.file("nothing") + ": did not appear within 0.3 s");

    CliProcess waiting({"load", image, "--port", dir.file("late"), "--wait", "30"});
    ASSERT_TRUE(waiting.waitForStderr("Waiting for " + dir.file("late"), 10000));
    sim::SimOptions late;
    late.linkPath = dir.file("late");
    auto target = startSim(late);
    CliResult r = waiting.wait(30000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(target->flash(), padded(sampleImage(64)));
}

}  // namespace
}  // namespace tarnlink
