// The simulated target started in-process, seen from a small host over its pseudo-terminal.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "sim/sim_target.h"
#include "tests/sim/sim_client.h"
#include "tests/support/process_resources.h"
#include "tests/support/temp_dir.h"

namespace tarnlink::test {
namespace {

using sim::SimOptions;
using sim::SimTarget;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const Bytes PROBE{0xFE, 0x01, 0x4D, 0x10, 0x00, 0x5C};
const Bytes HANDSHAKE{0xFE, 0x01, 0x4D, 0x04, 0x02, 0x4A};
const Bytes HANDSHAKE_ANSWER{0xFE, 0x00, 0x4D, 0x84, 0xC9};
const Bytes ENABLE{0xFE, 0x00, 0x4D, 0x03, 0x4E};
const Bytes ENABLE_ANSWER{0xFE, 0x00, 0x4D, 0x83, 0xCE};
const Bytes CRYPT{0xFE, 0x00, 0x4D, 0x20, 0x6D};
const Bytes WRITE_ACK{0xFE, 0x01, 0x4D, 0x81, 0x00, 0xCD};
constexpr int QUIET_MS = 150;  // long enough for an answer that would come at all

Bytes withFf(Bytes head, uint8_t fcs) {
    head.insert(head.end(), 64, 0xFF);
    head.push_back(fcs);
    return head;
}

// The fields of a read answer, after checking its frame.
struct ReadAnswer {
    uint8_t status = 0xEE;
    uint16_t address = 0;
    Bytes block;
};

ReadAnswer readBlock(const SimClient& client, uint16_t address) {
    client.send(readRequest(address));
    const auto frame = client.readFrame();
    ReadAnswer answer;
    EXPECT_EQ(frame.size(), 72u);
    if (frame.size() != 72u) {
        return answer;
    }
    EXPECT_TRUE(fcsMatches(frame));
    EXPECT_EQ(frame[3], 0x82);
    answer.status = frame[4];
    answer.address = static_cast<uint16_t>(frame[5] | (frame[6] << 8));
    answer.block.assign(frame.begin() + 7, frame.end() - 1);
    return answer;
}

uint8_t writeBlock(const SimClient& client, uint16_t address, const Bytes& block) {
    client.send(writeRequest(address, block));
    const auto frame = client.readFrame();
    EXPECT_EQ(frame.size(), 6u);
    EXPECT_TRUE(fcsMatches(frame));
    return frame.size() == 6u ? frame[4] : 0xEE;
}

TEST(SimTarget, AnswersTheWorkedDownloadByteForByte) {
    SimTarget target;
    ASSERT_TRUE(target.start());
    SimClient client(target.portPath());

    client.send(PROBE);
    EXPECT_TRUE(client.readFor(QUIET_MS).empty()) << "a probe is left unanswered";
    client.send(HANDSHAKE);
    EXPECT_EQ(client.read(5, 1000), HANDSHAKE_ANSWER);
    client.send(withFf({0xFE, 0x42, 0x4D, 0x01, 0x00, 0x00}, 0x0E));
    EXPECT_EQ(client.read(6, 1000), WRITE_ACK);
    client.send({0xFE, 0x02, 0x4D, 0x02, 0x00, 0x00, 0x4D});
    EXPECT_EQ(client.read(72, 1000), withFf({0xFE, 0x43, 0x4D, 0x82, 0x00, 0x00, 0x00}, 0x8C));
    client.send(ENABLE);
    EXPECT_EQ(client.read(5, 1000), ENABLE_ANSWER);
    EXPECT_TRUE(client.readFor(QUIET_MS).empty()) << "nothing beyond the answers";

    EXPECT_EQ(target.transfersEnded(), 1u);
    EXPECT_EQ(target.flash(), Bytes(64, 0xFF));
    const auto frames = target.frames();
    ASSERT_EQ(frames.size(), 9u);
    const std::vector<bool> fromHost{true, true, false, true, false, true, false, true, false};
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].fromHost, fromHost[i]) << i;
        if (i > 0) {
            EXPECT_GE(frames[i].timeUs, frames[i - 1].timeUs) << i;
        }
    }
    EXPECT_EQ(frames[1].bytes, HANDSHAKE);
    EXPECT_EQ(frames[8].bytes, ENABLE_ANSWER);
}

TEST(SimTarget, DropsAGarbledHostFrameAndServesTheNextOne) {
    SimTarget target;
    ASSERT_TRUE(target.start());
    SimClient client(target.portPath());
    client.send({0xFE, 0x01, 0x4D, 0x04, 0x02, 0x4B});  // handshake with a wrong FCS
    EXPECT_TRUE(client.readFor(QUIET_MS).empty());
    client.send(
        {0x00, 0x33, 0xFE, 0x01, 0x4D, 0x04, 0x03, 0x4A, 0xFE, 0x01, 0x4D, 0x04, 0x02, 0x4A});
    EXPECT_EQ(client.read(5, 1000), HANDSHAKE_ANSWER);
    EXPECT_TRUE(client.readFor(QUIET_MS).empty()) << "exactly one answer";
    EXPECT_EQ(target.frames().size(), 2u) << "the garbled frames are not logged as received";
}

struct FaultCase {
    const char* name;
    std::function<void(SimOptions&)> configure;
    std::function<void(const SimClient&)> run;
};

class SimFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SimFault, DoesWhatItsFlagSays) {
    SimOptions options;
    GetParam().configure(options);
    SimTarget target(options);
    ASSERT_TRUE(target.start());
    SimClient client(target.portPath());
    GetParam().run(client);
}

void expectHandshakeAnswered(const SimClient& c) {
    c.send(HANDSHAKE);
    EXPECT_EQ(c.read(5, 1000), HANDSHAKE_ANSWER);
}
void expectHandshakeIgnored(const SimClient& c) {
    c.send(HANDSHAKE);
    EXPECT_TRUE(c.readFor(QUIET_MS).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Flags, SimFault,
    ::testing::Values(
        FaultCase{"silent", [](SimOptions& o) { o.silent = true; },
                  [](const SimClient& c) {
                      c.send(HANDSHAKE);
                      c.send(writeRequest(0, patternBlock(1)));
                      c.send(readRequest(0));
                      c.send(ENABLE);
                      c.send(CRYPT);
                      EXPECT_TRUE(c.readFor(2 * QUIET_MS).empty());
                  }},
        FaultCase{"probe_answered_on_request", [](SimOptions& o) { o.answerProbe = true; },
                  [](const SimClient& c) {
                      c.send(PROBE);
                      EXPECT_EQ(c.read(5, 1000), (Bytes{0xFE, 0x00, 0x4D, 0x90, 0xDD}));
                  }},
        FaultCase{"ignore_handshakes_2", [](SimOptions& o) { o.ignoreHandshakes = 2; },
                  [](const SimClient& c) {
                      c.send(PROBE);  // not a handshake: does not count
                      expectHandshakeIgnored(c);
                      expectHandshakeIgnored(c);
                      expectHandshakeAnswered(c);
                      expectHandshakeAnswered(c);
                  }},
        FaultCase{"refuse_write_2", [](SimOptions& o) { o.refuseWrite = 2; },
                  [](const SimClient& c) {
                      expectHandshakeAnswered(c);  // other kinds do not count
                      EXPECT_EQ(writeBlock(c, 0, patternBlock(1)), 0);
                      EXPECT_NE(writeBlock(c, 16, patternBlock(2)), 0);
                      EXPECT_EQ(writeBlock(c, 32, patternBlock(3)), 0);
                      EXPECT_EQ(readBlock(c, 16).block, Bytes(64, 0xFF)) << "refused: not stored";
                      EXPECT_EQ(readBlock(c, 32).block, patternBlock(3));
                  }},
        FaultCase{"corrupt_block_2", [](SimOptions& o) { o.corruptBlock = 2; },
                  [](const SimClient& c) {
                      EXPECT_EQ(writeBlock(c, 0, patternBlock(1)), 0);
                      EXPECT_EQ(writeBlock(c, 16, patternBlock(2)), 0);
                      EXPECT_EQ(readBlock(c, 0).block, patternBlock(1));
                      const auto first = readBlock(c, 16);
                      EXPECT_EQ(first.status, 0);
                      ASSERT_EQ(first.block.size(), 64u);
                      int differing = 0;
                      for (size_t i = 0; i < 64; ++i) {
                          differing += first.block[i] != patternBlock(2)[i];
                      }
                      EXPECT_EQ(differing, 1);
                      EXPECT_EQ(readBlock(c, 16).block, first.block) << "every read-back alike";
                  }},
        FaultCase{"fail_read_2", [](SimOptions& o) { o.failRead = 2; },
                  [](const SimClient& c) {
                      EXPECT_EQ(readBlock(c, 0).status, 0);
                      const auto failed = readBlock(c, 16);
                      EXPECT_NE(failed.status, 0);
                      EXPECT_EQ(failed.address, 16);
                      EXPECT_EQ(readBlock(c, 32).status, 0);
                  }},
        FaultCase{"bad_fcs_response_2", [](SimOptions& o) { o.badFcsResponse = 2; },
                  [](const SimClient& c) {
                      expectHandshakeAnswered(c);
                      c.send(HANDSHAKE);
                      const auto bad = c.read(5, 1000);
                      ASSERT_EQ(bad.size(), 5u);
                      EXPECT_EQ(Bytes(bad.begin(), bad.end() - 1), (Bytes{0xFE, 0x00, 0x4D, 0x84}));
                      EXPECT_NE(bad.back(), 0xC9);
                      expectHandshakeAnswered(c);
                  }},
        FaultCase{"drop_response_2", [](SimOptions& o) { o.dropResponse = 2; },
                  [](const SimClient& c) {
                      c.send(PROBE);  // unanswered: no response number
                      expectHandshakeAnswered(c);
                      expectHandshakeIgnored(c);
                      expectHandshakeAnswered(c);
                  }},
        FaultCase{"duplicate_request_2", [](SimOptions& o) { o.duplicateRequest = 2; },
                  [](const SimClient& c) {
                      c.send(PROBE);  // request 1, though unanswered
                      c.send(HANDSHAKE);
                      Bytes twice = HANDSHAKE_ANSWER;
                      twice.insert(twice.end(), HANDSHAKE_ANSWER.begin(), HANDSHAKE_ANSWER.end());
                      EXPECT_EQ(c.read(10, 1000), twice);
                      EXPECT_TRUE(c.readFor(QUIET_MS).empty());
                      expectHandshakeAnswered(c);
                      EXPECT_TRUE(c.readFor(QUIET_MS).empty());
                  }},
        FaultCase{"duplicate_1_then_drop_2_counts_every_answer",
                  [](SimOptions& o) {
                      o.duplicateRequest = 1;
                      o.dropResponse = 2;
                  },
                  [](const SimClient& c) {
                      expectHandshakeAnswered(c);  // answers 1 (sent) and 2 (dropped)
                      EXPECT_TRUE(c.readFor(QUIET_MS).empty());
                      expectHandshakeAnswered(c);  // answer 3
                  }},
        FaultCase{"wrong_address_read_2", [](SimOptions& o) { o.wrongAddressRead = 2; },
                  [](const SimClient& c) {
                      EXPECT_EQ(writeBlock(c, 32, patternBlock(9)), 0);
                      EXPECT_EQ(readBlock(c, 16).address, 16);
                      const auto wrong = readBlock(c, 32);
                      EXPECT_EQ(wrong.status, 0);
                      EXPECT_NE(wrong.address, 32);
                      EXPECT_EQ(wrong.block, patternBlock(9));
                      EXPECT_EQ(readBlock(c, 48).address, 48);
                  }},
        FaultCase{"refuse_crypt", [](SimOptions& o) { o.refuseCrypt = true; },
                  [](const SimClient& c) {
                      c.send(CRYPT);
                      const auto frame = c.readFrame();
                      ASSERT_EQ(frame.size(), 6u);
                      EXPECT_TRUE(fcsMatches(frame));
                      EXPECT_EQ(frame[3], 0xA0);
                      EXPECT_NE(frame[4], 0);
                  }},
        FaultCase{"stop_after_3", [](SimOptions& o) { o.stopAfterFrames = 3; },
                  [](const SimClient& c) {
                      c.send(PROBE);
                      expectHandshakeAnswered(c);
                      expectHandshakeAnswered(c);
                      expectHandshakeIgnored(c);
                      c.send(ENABLE);
                      EXPECT_TRUE(c.readFor(QUIET_MS).empty());
                  }},
        FaultCase{"noise_between_frames", [](SimOptions& o) { o.noise = true; },
                  [](const SimClient& c) {
                      size_t noiseBytes = 0;
                      for (int i = 0; i < 5; ++i) {
                          c.send(HANDSHAKE);
                          auto got = c.readFor(QUIET_MS);
                          ASSERT_GE(got.size(), 6u);
                          const Bytes tail(got.end() - 5, got.end());
                          EXPECT_EQ(tail, HANDSHAKE_ANSWER);
                          for (auto it = got.begin(); it != got.end() - 5; ++it) {
                              EXPECT_NE(*it, 0xFE);
                          }
                          noiseBytes += got.size() - 5;
                      }
                      EXPECT_GE(noiseBytes, 5u);
                  }},
        FaultCase{"answer_twice", [](SimOptions& o) { o.answerTwice = true; },
                  [](const SimClient& c) {
                      c.send(PROBE);  // still unanswered
                      EXPECT_TRUE(c.readFor(QUIET_MS).empty());
                      c.send(writeRequest(16, patternBlock(5)));
                      Bytes twice = WRITE_ACK;
                      twice.insert(twice.end(), WRITE_ACK.begin(), WRITE_ACK.end());
                      EXPECT_EQ(c.read(12, 1000), twice);
                      // Acted on once: one write, one crypt block per read.
                      EXPECT_EQ(readBlock(c, 16).block, patternBlock(5));
                      EXPECT_EQ(c.readFrame(1000).size(), 72u) << "the read's second answer";
                      EXPECT_TRUE(c.readFor(QUIET_MS).empty());
                  }},
        FaultCase{"echo_before_every_answer", [](SimOptions& o) { o.echo = true; },
                  [](const SimClient& c) {
                      c.send(PROBE);  // echoed, though the target leaves it unanswered
                      EXPECT_EQ(c.read(6, 1000), PROBE);
                      c.send(HANDSHAKE);
                      Bytes both = HANDSHAKE;
                      both.insert(both.end(), HANDSHAKE_ANSWER.begin(), HANDSHAKE_ANSWER.end());
                      EXPECT_EQ(c.read(11, 1000), both);
                      const Bytes write = writeRequest(0, patternBlock(3));
                      c.send(write);
                      Bytes echoed = write;
                      echoed.insert(echoed.end(), WRITE_ACK.begin(), WRITE_ACK.end());
                      EXPECT_EQ(c.read(echoed.size(), 1000), echoed);
                      EXPECT_TRUE(c.readFor(QUIET_MS).empty());
                  }},
        FaultCase{"store_wrong_2", [](SimOptions& o) { o.storeWrong = 2; },
                  [](const SimClient& c) {
                      EXPECT_EQ(writeBlock(c, 0, patternBlock(1)), 0);
                      EXPECT_EQ(writeBlock(c, 16, patternBlock(2)), 0) << "acknowledged";
                      EXPECT_EQ(writeBlock(c, 32, patternBlock(3)), 0);
                      EXPECT_EQ(readBlock(c, 0).block, patternBlock(1));
                      const Bytes stored = readBlock(c, 16).block;
                      ASSERT_EQ(stored.size(), 64u);
                      int differing = 0;
                      for (size_t i = 0; i < 64; ++i) {
                          differing += stored[i] != patternBlock(2)[i];
                      }
                      EXPECT_EQ(differing, 1) << "one byte of write 2 did not take";
                      EXPECT_EQ(readBlock(c, 32).block, patternBlock(3));
                      EXPECT_EQ(writeBlock(c, 16, patternBlock(2)), 0);
                      EXPECT_EQ(readBlock(c, 16).block, patternBlock(2)) << "write 4 takes";
                  }},
        FaultCase{"mute_read", [](SimOptions& o) { o.muteCommand = 0x02; },
                  [](const SimClient& c) {
                      EXPECT_EQ(writeBlock(c, 0, patternBlock(1)), 0);
                      c.send(readRequest(0));
                      EXPECT_TRUE(c.readFor(QUIET_MS).empty());
                      c.send(ENABLE);
                      EXPECT_EQ(c.read(5, 1000), ENABLE_ANSWER);
                  }},
        FaultCase{"mute_enable_acts_on_nothing", [](SimOptions& o) { o.muteCommand = 0x03; },
                  [](const SimClient& c) {
                      c.send(CRYPT);
                      EXPECT_EQ(c.read(6, 1000), (Bytes{0xFE, 0x01, 0x4D, 0xA0, 0x00, 0xEC}));
                      c.send(ENABLE);  // would leave crypt mode if it were acted on
                      EXPECT_TRUE(c.readFor(QUIET_MS).empty());
                      EXPECT_NE(readBlock(c, 0).status, 0) << "still in crypt mode, empty flash";
                  }},
        FaultCase{"jitter_spreads_the_answers", [](SimOptions& o) { o.jitterMs = 200; },
                  [](const SimClient& c) {
                      Clock::duration shortest = std::chrono::hours(1);
                      Clock::duration longest{};
                      for (int i = 0; i < 8; ++i) {
                          const auto sent = Clock::now();
                          c.send(HANDSHAKE);
                          ASSERT_EQ(c.read(5, 2000), HANDSHAKE_ANSWER);
                          const auto took = Clock::now() - sent;
                          shortest = std::min(shortest, took);
                          longest = std::max(longest, took);
                      }
                      EXPECT_LT(longest, std::chrono::milliseconds(1500));
                      EXPECT_GT(longest - shortest, std::chrono::milliseconds(20))
                          << "eight draws of 0..200 ms all alike";
                  }},
        FaultCase{"delay_300_ms", [](SimOptions& o) { o.delayMs = 300; },
                  [](const SimClient& c) {
                      const auto sent = Clock::now();
                      c.send(HANDSHAKE);
                      EXPECT_EQ(c.read(5, 3000), HANDSHAKE_ANSWER);
                      EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(290));
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

Bytes noiseStream(uint64_t seed) {
    SimOptions options;
    options.noise = true;
    options.seed = seed;
    SimTarget target(options);
    EXPECT_TRUE(target.start());
    SimClient client(target.portPath());
    Bytes all;
    for (int i = 0; i < 4; ++i) {
        client.send(HANDSHAKE);
        const auto got = client.readFor(QUIET_MS);
        all.insert(all.end(), got.begin(), got.end());
    }
    return all;
}

TEST(SimTarget, NoiseIsDeterminedByTheSeed) {
    const auto first = noiseStream(7);
    EXPECT_EQ(noiseStream(7), first);
    EXPECT_NE(noiseStream(8), first);
}

TEST(SimTarget, CryptModeReadsTheEncryptedBlocksInOrderThenEnds) {
    TempDir dir;
    Bytes image;
    for (uint8_t k = 0; k < 2; ++k) {
        const auto block = patternBlock(static_cast<uint8_t>(0x40 * k));
        image.insert(image.end(), block.begin(), block.end());
    }
    image.insert(image.end(), {1, 2, 3});  // a partial third block, the rest erased
    SimOptions options;
    options.flashIn = dir.write("flash.bin", image);
    SimTarget target(options);
    ASSERT_TRUE(target.start());
    SimClient client(target.portPath());

    Bytes plain = image;
    plain.resize(3 * 64, 0xFF);
    ASSERT_EQ(target.flash(), plain);
    const auto crypt = SimTarget::encrypt(plain);

    client.send(CRYPT);
    EXPECT_EQ(client.read(6, 1000), (Bytes{0xFE, 0x01, 0x4D, 0xA0, 0x00, 0xEC}));
    for (uint16_t k = 0; k < 3; ++k) {
        const auto answer = readBlock(client, static_cast<uint16_t>(16 * k));
        EXPECT_EQ(answer.status, 0);
        EXPECT_EQ(answer.address, 16 * k);
        EXPECT_EQ(answer.block, Bytes(crypt.begin() + 64 * k, crypt.begin() + 64 * (k + 1))) << k;
    }
    EXPECT_EQ(target.transfersEnded(), 0u);
    const auto end = readBlock(client, 48);
    EXPECT_NE(end.status, 0);
    EXPECT_EQ(target.transfersEnded(), 1u);
    // Back in plain mode: reads show the flash again.
    EXPECT_EQ(readBlock(client, 0).block, patternBlock(0));
}

TEST(SimTarget, CryptOfAnEmptyFlashEndsAtTheFirstRead) {
    SimTarget target;
    ASSERT_TRUE(target.start());
    SimClient client(target.portPath());
    client.send(CRYPT);
    EXPECT_EQ(client.read(6, 1000), (Bytes{0xFE, 0x01, 0x4D, 0xA0, 0x00, 0xEC}));
    EXPECT_NE(readBlock(client, 0).status, 0);
    EXPECT_EQ(target.transfersEnded(), 1u);
}

TEST(SimTarget, PacedAt115200BaudReadsTakeTheirWireTime) {
    SimOptions options;
    options.baud = 115200;
    SimTarget target(options);
    ASSERT_TRUE(target.start());
    SimClient client(target.portPath());
    constexpr int READS = 100;
    const auto start = Clock::now();
    for (int i = 0; i < READS; ++i) {
        client.send(readRequest(0));
        ASSERT_EQ(client.read(72, 2000).size(), 72u) << i;
    }
    const auto elapsed = Clock::now() - start;
    // 7 bytes of request and 72 of answer per read, 10 bits a byte.
    const auto wire = std::chrono::microseconds(READS * (7 + 72) * 10 * 1'000'000LL / 115200);
    EXPECT_GE(elapsed, wire);
    EXPECT_LT(elapsed, wire * 20) << "pacing far slower than the line";
}

TEST(SimTarget, LatencyTimerHoldsAnswersUntilItRunsOutOrAPacketIsFull) {
    SimOptions options;
    options.latencyTimerMs = 300;
    options.once = true;
    SimTarget target(options);
    ASSERT_TRUE(target.start());
    SimClient client(target.portPath());
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    };

    // A short answer waits for the timer.
    auto start = Clock::now();
    client.send(HANDSHAKE);
    EXPECT_EQ(client.read(5, 3000), HANDSHAKE_ANSWER);
    EXPECT_GE(ms(Clock::now() - start), 300);

    // A read answer is 72 bytes: one full packet of 62 goes at once, the last 10 wait.
    start = Clock::now();
    client.send(readRequest(0));
    EXPECT_EQ(client.read(62, 3000).size(), 62u);
    EXPECT_LT(ms(Clock::now() - start), 250) << "a full packet is not held";
    EXPECT_EQ(client.read(10, 3000).size(), 10u);
    EXPECT_GE(ms(Clock::now() - start), 300);

    // The answer that ends the transfer still leaves before --once ends serving.
    client.send(ENABLE);
    EXPECT_EQ(client.read(5, 3000), ENABLE_ANSWER);
    for (int i = 0; i < 200 && !target.finished(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(target.finished());
}

TEST(SimTarget, StopsPromptlyDuringADelayAndLeavesNothingBehind) {
    TempDir dir;
    {
        // A first round outside the count: a sanitizer starts a helper thread of its own
        // the first time the process starts a thread.
        SimTarget warmUp;
        ASSERT_TRUE(warmUp.start());
    }
    const auto fdsBefore = openFileDescriptors();
    const int threadsBefore = threadCount();
    for (int round = 0; round < 3; ++round) {
        SimOptions options;
        options.delayMs = 5000;
        options.linkPath = dir.file("port");
        SimTarget target(options);
        ASSERT_TRUE(target.start());
        EXPECT_FALSE(target.start()) << "already running";
        const std::string port = target.portPath();
        EXPECT_EQ(std::filesystem::read_symlink(options.linkPath).string(), port);
        {
            SimClient client(options.linkPath);
            client.send(HANDSHAKE);  // the answer waits 5 s; stop must not
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const auto stopAt = Clock::now();
            target.stop();
            EXPECT_LT(Clock::now() - stopAt, std::chrono::milliseconds(3000));
        }
        target.stop();  // idempotent
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(options.linkPath)));
        EXPECT_FALSE(std::filesystem::exists(port)) << "the slave goes with the master";
    }
    EXPECT_EQ(waitForThreadCount(threadsBefore), threadsBefore);
    EXPECT_EQ(openFileDescriptors(), fdsBefore);
}

TEST(SimTarget, RefusesToStartOnAFlashFileThatDoesNotFit) {
    TempDir dir;
    SimOptions options;
    options.flashIn = dir.write("big.bin", Bytes(4096 * 64 + 1, 0));
    SimTarget target(options);
    EXPECT_FALSE(target.start());
    options.flashIn = dir.file("missing.bin");
    SimTarget missing(options);
    EXPECT_FALSE(missing.start());
}

}  // namespace
}  // namespace tarnlink::test
