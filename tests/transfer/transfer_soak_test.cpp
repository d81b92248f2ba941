// Many short transfers against a simulated target with random faults drawn from a seed:
// answers dropped, repeated, garbled, delayed or late, noise and echoes on the line, writes
// refused or stored wrong, blocks read back changed. Whatever the outcome, a success must
// mean a verified flash and an upload a complete crypt file; every run checks that.
//
// Each shard is a test of its own, so CTest runs them side by side. A failure names its
// seed; TARNLINK_SOAK_SEED=<seed> runs that one alone (in shard 0), TARNLINK_SOAK_RUNS=<n>
// sets the runs per shard.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <random>
#include <sstream>
#include <string>

#include "protocol/frame_trace.h"
#include "tests/transfer/sim_transfer_fixture.h"
#include "transfer/crypt_worker.h"
#include "transfer/download_worker.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

using test::paddedImage;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t SHARDS = 16;

uint32_t runsPerShard() {
    if (const char* runs = std::getenv("TARNLINK_SOAK_RUNS")) {
        return static_cast<uint32_t>(std::strtoul(runs, nullptr, 10));
    }
    return TARNLINK_SOAK_RUNS_PER_SHARD;
}

// Every frame the host sent or received whole, in the order the engine saw them.
struct Traced {
    bool sent;
    Bytes bytes;
};

std::mutex s_traceMutex;
std::vector<Traced> s_trace;

void traceFrame(FrameDirection direction, const uint8_t* frame, size_t size) {
    std::lock_guard lock(s_traceMutex);
    s_trace.push_back({direction == FrameDirection::SENT, Bytes(frame, frame + size)});
}

std::vector<Traced> takeTrace() {
    std::lock_guard lock(s_traceMutex);
    return std::exchange(s_trace, {});
}

uint16_t addressOf(const Bytes& frame, size_t at) {
    return static_cast<uint16_t>(frame[at] | frame[at + 1] << 8);
}

bool isReadAnswer(const Traced& t) {
    return !t.sent && t.bytes.size() == 72 && t.bytes[3] == 0x82;
}

Bytes blockOf(const Bytes& bytes, size_t k) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(64 * k),
                 bytes.begin() + static_cast<std::ptrdiff_t>(64 * (k + 1)));
}

// One run's draw: the faults of the target and what is transferred.
struct SoakRun {
    uint64_t seed = 0;
    bool download = true;
    sim::SimOptions sim;
    Bytes data;  ///< the image of a download, the target's flash for a read-back
    uint8_t skipResetVector = 0;
    bool mustSucceed = false;  ///< only faults that the repeats must get past
    std::string faults;
};

SoakRun drawRun(uint64_t seed) {
    std::mt19937_64 random(seed);
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    auto upTo = [&](uint32_t n) { return static_cast<uint32_t>(1 + random() % n); };
    SoakRun run;
    run.seed = seed;
    run.download = chance(65);
    const uint32_t blocks = run.download ? upTo(8) : static_cast<uint32_t>(random() % 9);
    const size_t bytes = run.download ? 64 * (blocks - 1) + upTo(64) : 64 * size_t{blocks};
    run.data.resize(bytes);
    for (auto& b : run.data)
        b = static_cast<uint8_t>(random());
    const uint32_t requests = 2 * blocks + 6;
    std::ostringstream faults;
    sim::SimOptions& o = run.sim;
    o.seed = seed;
    bool harmful = false;
    if (chance(15)) {
        o.answerTwice = true;
        faults << " answer-twice";
    }
    if (chance(25)) {
        o.duplicateRequest = upTo(requests);
        faults << " duplicate-request=" << o.duplicateRequest;
    }
    if (chance(20)) {
        o.dropResponse = upTo(requests);
        faults << " drop-response=" << o.dropResponse;
        harmful |= !run.download;  // a read-back has no repeats
    }
    if (chance(20)) {
        o.badFcsResponse = upTo(requests);
        faults << " bad-fcs-response=" << o.badFcsResponse;
        harmful |= !run.download;
    }
    if (chance(20)) {
        o.noise = true;
        faults << " noise";
    }
    if (chance(20)) {
        o.echo = true;
        faults << " echo";
    }
    if (chance(10)) {
        o.ignoreHandshakes = upTo(4);
        faults << " ignore-handshakes=" << o.ignoreHandshakes;
    }
    if (chance(10)) {
        o.answerProbe = true;
        faults << " answer-probe";
    }
    if (chance(8)) {
        o.wrongAddressRead = upTo(blocks + 1);
        faults << " wrong-address-read=" << o.wrongAddressRead;
        harmful |= !run.download;
    }
    if (chance(6)) {
        o.refuseWrite = upTo(blocks + 1);
        faults << " refuse-write=" << o.refuseWrite;
        harmful = true;
    }
    if (chance(10)) {
        o.corruptBlock = upTo(blocks + 1);
        faults << " corrupt-block=" << o.corruptBlock;
        harmful = true;
    }
    if (chance(10)) {
        o.storeWrong = upTo(blocks + 1);
        faults << " store-wrong=" << o.storeWrong;
        harmful = true;
    }
    if (chance(5)) {
        o.failRead = upTo(blocks + 1);
        faults << " fail-read=" << o.failRead;
        harmful = true;
    }
    if (chance(15)) {
        o.delayMs = upTo(40);
        faults << " delay-ms=" << o.delayMs;
    }
    if (chance(12)) {
        // Now and then an answer comes after the host has given up on it and asked again.
        o.jitterMs = chance(40) ? 700 : 60;
        faults << " jitter-ms=" << o.jitterMs;
        harmful |= o.jitterMs > 400;
    }
    if (run.download && chance(10)) {
        run.skipResetVector = 1;
        faults << " (skip reset vector)";
    }
    run.mustSucceed = !harmful;
    std::ostringstream text;
    text << "seed " << seed << ": " << (run.download ? "download of " : "read-back of ")
         << run.data.size() << " bytes;" << (faults.str().empty() ? " no faults" : faults.str())
         << " (replay: TARNLINK_SOAK_SEED=" << seed << ")";
    run.faults = text.str();
    return run;
}

// A block that the option leaves out of the comparison: bytes 0-2 of block 0.
bool sameBlock(const Bytes& got, const Bytes& want, bool skipFirstThree) {
    const size_t first = skipFirstThree ? 3 : 0;
    return std::equal(got.begin() + static_cast<std::ptrdiff_t>(first), got.end(),
                      want.begin() + static_cast<std::ptrdiff_t>(first));
}

// SUCCESS and any enable sent: before the first enable went out, every block of the
// image came back from its own address with status 0 and compared equal.
void checkDownload(const SoakRun& run, uint8_t result, const std::vector<Traced>& trace,
                   const Bytes& flash) {
    const Bytes image = paddedImage(run.data);
    const size_t blocks = image.size() / 64;
    std::vector<bool> verified(blocks, false);
    bool enabled = false;
    for (const Traced& t : trace) {
        if (t.sent && t.bytes.size() == 5 && t.bytes[3] == 0x03) {
            enabled = true;
            break;
        }
        if (isReadAnswer(t) && t.bytes[4] == 0) {
            const uint16_t address = addressOf(t.bytes, 5);
            const size_t k = address / 16;
            if (address % 16 == 0 && k < blocks &&
                sameBlock(Bytes(t.bytes.begin() + 7, t.bytes.end() - 1), blockOf(image, k),
                          run.skipResetVector != 0 && k == 0)) {
                verified[k] = true;
            }
        }
    }
    EXPECT_TRUE(result == SUCCESS || result == TARGET_TIMEOUT || result == VERIFY_FAILED ||
                result == GENERAL_FAILURE)
        << transferResultName(result);
    if (result == SUCCESS) {
        EXPECT_TRUE(enabled);
        ASSERT_GE(flash.size(), image.size());
        for (size_t k = 0; k < blocks; ++k) {
            EXPECT_TRUE(
                sameBlock(blockOf(flash, k), blockOf(image, k), run.skipResetVector != 0 && k == 0))
                << "block " << k << " is not in the flash as in the image";
        }
    }
    if (enabled) {
        for (size_t k = 0; k < blocks; ++k) {
            EXPECT_TRUE(verified[k]) << "enabled without block " << k << " read back equal";
        }
    }
    if (run.mustSucceed) {
        EXPECT_EQ(result, SUCCESS) << "the repeats should have got past these faults";
    }
}

// Any outcome: the file holds, in order, one accepted answer for each of the addresses 0,
// 16, 32, ...; an upload holds them all, up to the read that the target marked as the end.
void checkReadBack(const SoakRun& run, uint8_t result, const std::vector<Traced>& trace,
                   const Bytes& file) {
    ASSERT_EQ(file.size() % 64, 0u);
    const size_t blocks = file.size() / 64;
    std::vector<uint16_t> reads;
    for (const Traced& t : trace) {
        if (t.sent && t.bytes.size() == 7 && t.bytes[3] == 0x02)
            reads.push_back(addressOf(t.bytes, 4));
    }
    for (size_t k = 0; k < reads.size(); ++k) {
        EXPECT_EQ(reads[k], 16 * k) << "read " << k;
    }
    for (size_t k = 0; k < blocks; ++k) {
        bool answered = false;
        for (const Traced& t : trace) {
            answered |= isReadAnswer(t) && t.bytes[4] == 0 && addressOf(t.bytes, 5) == 16 * k &&
                        Bytes(t.bytes.begin() + 7, t.bytes.end() - 1) == blockOf(file, k);
        }
        EXPECT_TRUE(answered) << "file block " << k << " is no answer to the read of it";
    }
    EXPECT_LE(blocks, reads.size());
    EXPECT_TRUE(result == CRYPT_UPLOADED || result == TARGET_TIMEOUT || result == GENERAL_FAILURE)
        << transferResultName(result);
    if (result == CRYPT_UPLOADED) {
        EXPECT_EQ(blocks + 1, reads.size()) << "an upload ends at the read marked as the end";
        const Bytes crypt = sim::SimTarget::encrypt(run.data);
        if (run.sim.failRead == 0 && run.sim.corruptBlock == 0) {
            EXPECT_EQ(file, crypt) << "the whole encrypted image";
        }
    }
    if (run.mustSucceed) {
        EXPECT_EQ(result, CRYPT_UPLOADED) << "nothing here should stop a read-back";
    }
}

class SoakTest : public test::SimTransferTest, public ::testing::WithParamInterface<uint32_t> {
  protected:
    void SetUp() override {
        SimTransferTest::SetUp();
        takeTrace();
        setFrameObserver(traceFrame);
    }
    void TearDown() override {
        setFrameObserver(nullptr);
        SimTransferTest::TearDown();
    }

    void soak(const SoakRun& run) {
        SCOPED_TRACE(run.faults);
        sim::SimOptions options = run.sim;
        if (!run.download && !run.data.empty()) {
            options.flashIn = m_dir.write("flash-" + std::to_string(run.seed), run.data);
        }
        startSim(options);
        const std::string path = run.download
                                     ? m_dir.write("image-" + std::to_string(run.seed), run.data)
                                     : m_dir.file("crypt-" + std::to_string(run.seed));
        ++m_results;
        if (run.download) {
            startDownload(path.c_str(), port().c_str(), run.skipResetVector);
        } else {
            startCryptReadBack(path.c_str(), port().c_str());
        }
        const auto result = awaitResult(60000, m_results);
        ASSERT_TRUE(result.has_value()) << "no result";
        // The worker gives `worker` back just before it reports; wait for it, so the
        // next run's start is not refused.
        while (g_transfer.worker.load()) {
            std::this_thread::yield();
        }
        const std::vector<Traced> trace = takeTrace();
        if (run.download) {
            checkDownload(run, *result, trace, m_sim->flash());
        } else {
            checkReadBack(run, *result, trace, test::readFile(path));
        }
        m_sim->stop();
        m_sim.reset();
        EXPECT_EQ(m_recorder->results().size(), m_results) << "one result per start";
    }

    size_t m_results = 0;
};

TEST_P(SoakTest, EveryRunKeepsTheInvariants) {
    const uint32_t shard = GetParam();
    if (const char* replay = std::getenv("TARNLINK_SOAK_SEED")) {
        if (shard != 0) {
            GTEST_SKIP() << "replaying one seed in shard 0";
        }
        soak(drawRun(std::strtoull(replay, nullptr, 10)));
        return;
    }
    const uint32_t runs = runsPerShard();
    for (uint32_t i = 0; i < runs && !HasFatalFailure(); ++i) {
        soak(drawRun(uint64_t{shard} * runs + i + 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, SoakTest, ::testing::Range(0u, SHARDS));

}  // namespace
}  // namespace tarnlink
