// Transfers against the simulated target with a thread held at a chosen instant, or a step
// made to fail, through the engine's test seams: the orderings that a scheduler gives only
// now and then, made to happen every time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <thread>

#include "protocol/frame_receiver.h"
#include "protocol/frame_trace.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_seams.h"
#include "tests/transfer/sim_transfer_fixture.h"
#include "transfer/crypt_worker.h"
#include "transfer/download_worker.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

using namespace std::chrono_literals;
using test::frameAddress;
using test::frameCommand;
using test::paddedImage;
using test::patternImage;
using Bytes = std::vector<uint8_t>;

constexpr auto HOLD_LIMIT = 5s;  // a hold that outlasts this is a failure, not a hang

// RESPONSE_HANDLED's detail for a read answer at `address`.
uint32_t readAnswerKey(uint16_t address) {
    return uint32_t{0x82} << 16 | address;
}

// What the threads have reached so far: responses dealt with and read answers taken by
// the reader, requests sent by the worker. A seam waits here for the other thread.
class Progress {
  public:
    void handled(uint32_t key) { bump(m_handled, key); }
    void accepted(uint16_t address) { bump(m_accepted, address); }
    void sent(const uint8_t* frame, size_t size) {
        if (size >= 7 && frame[3] == 0x02) {
            bump(m_sentReads, static_cast<uint16_t>(frame[4] | frame[5] << 8));
        }
    }
    int handledCount(uint32_t key) const { return count(m_handled, key); }
    int acceptedCount(uint16_t address) const { return count(m_accepted, address); }
    int readsSent(uint16_t address) const { return count(m_sentReads, address); }
    bool readSent(uint16_t address) const { return count(m_sentReads, address) > 0; }
    /// Waits until `ready` holds; false after HOLD_LIMIT.
    bool waitUntil(const std::function<bool()>& ready) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, HOLD_LIMIT, ready);
    }

  private:
    void bump(std::map<uint32_t, int>& counts, uint32_t key) {
        {
            std::lock_guard lock(m_mutex);
            ++counts[key];
        }
        m_changed.notify_all();
    }
    int count(const std::map<uint32_t, int>& counts, uint32_t key) const {
        std::lock_guard lock(m_mutex);  // recursive: also taken inside waitUntil's predicate
        const auto it = counts.find(key);
        return it == counts.end() ? 0 : it->second;
    }

    mutable std::recursive_mutex m_mutex;
    std::condition_variable_any m_changed;
    std::map<uint32_t, int> m_handled;
    std::map<uint32_t, int> m_accepted;
    std::map<uint32_t, int> m_sentReads;
};

Progress* s_progress = nullptr;

void observeFrame(FrameDirection direction, const uint8_t* frame, size_t size) {
    if (direction == FrameDirection::SENT && s_progress != nullptr) {
        s_progress->sent(frame, size);
    }
}

class SeamTransferTest : public test::SimTransferTest {
  protected:
    void SetUp() override {
        SimTransferTest::SetUp();
        s_progress = &m_progress;
        setFrameObserver(observeFrame);
    }
    void TearDown() override {
        SimTransferTest::TearDown();
        setFrameObserver(nullptr);
        s_progress = nullptr;
    }
    std::vector<uint16_t> readAddresses() const {
        std::vector<uint16_t> addresses;
        for (const auto& frame : hostFrames()) {
            if (frameCommand(frame) == 0x02)
                addresses.push_back(frameAddress(frame));
        }
        return addresses;
    }

    Progress m_progress;
};

// The target answers every read twice. The worker, woken by the first answer to block 0's
// read, is held until the reader has dealt with the second; if that second answer were
// accepted as well, the reader is held in its turn until the worker has sent block 1's
// read, so that its signal lands on block 1's wait. Block 1 reads back changed: only its
// own answer may decide it.
TEST_F(SeamTransferTest, SecondAnswerToAVerifyReadNeverCountsForTheNextBlock) {
    sim::SimOptions options;
    options.answerTwice = true;
    options.corruptBlock = 2;
    startSim(options);
    bool secondAnswerSeenInTime = false;
    bool readerReleased = true;
    test::ScopedTestSeams seams([&](TestSeam seam, uint32_t detail) {
        if (seam == TestSeam::RESPONSE_HANDLED) {
            m_progress.handled(detail);
        } else if (seam == TestSeam::READ_ACCEPTED) {
            m_progress.accepted(static_cast<uint16_t>(detail));
            if (detail == 0 && m_progress.acceptedCount(0) == 2) {
                readerReleased = m_progress.waitUntil([&] { return m_progress.readSent(16); });
            }
        } else if (seam == TestSeam::ANSWER_TAKEN && g_transfer.state.load() == STATE_VERIFY &&
                   g_transfer.address.load() == 0) {
            secondAnswerSeenInTime = m_progress.waitUntil([&] {
                return m_progress.handledCount(readAnswerKey(0)) >= 2 ||
                       m_progress.acceptedCount(0) >= 2;
            });
        }
        return false;
    });
    const std::string image = m_dir.write("image.bin", patternImage(128, 11));
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(20000), VERIFY_FAILED);
    EXPECT_TRUE(secondAnswerSeenInTime) << "the window was not held open";
    EXPECT_TRUE(readerReleased);
    EXPECT_LE(m_progress.acceptedCount(0), m_progress.readsSent(0))
        << "block 0's read had a second answer accepted";
    for (const auto& frame : hostFrames())
        EXPECT_NE(frameCommand(frame), 0x03) << "an image that did not verify was enabled";
}

// The target answers every crypt read twice, and the worker is held after each first
// answer until the reader has dealt with the second: each block still lands in the file
// once, in order.
TEST_F(SeamTransferTest, CryptBlockAnsweredTwiceIsWrittenOnce) {
    sim::SimOptions options;
    options.answerTwice = true;
    const Bytes plain = patternImage(4 * 64, 12);
    options.flashIn = m_dir.write("flash.bin", plain);
    startSim(options);
    int heldOpen = 0;
    test::ScopedTestSeams seams([&](TestSeam seam, uint32_t detail) {
        if (seam == TestSeam::RESPONSE_HANDLED) {
            m_progress.handled(detail);
        } else if (seam == TestSeam::ANSWER_TAKEN && g_transfer.packetIndex.load() != 0) {
            // A block's read (the crypt request's wait is the one with packetIndex 0).
            const uint32_t key = readAnswerKey(g_transfer.address.load());
            heldOpen += m_progress.waitUntil([&] { return m_progress.handledCount(key) >= 2; });
        }
        return false;
    });
    const std::string output = m_dir.file("crypt.bin");
    startCryptReadBack(output.c_str(), port().c_str());
    ASSERT_EQ(awaitResult(20000), CRYPT_UPLOADED);
    // Four blocks and the end: each read's second answer came while that read was held.
    EXPECT_EQ(heldOpen, 5);
    EXPECT_EQ(test::readFile(output), sim::SimTarget::encrypt(plain));
    EXPECT_EQ(readAddresses(), (std::vector<uint16_t>{0, 16, 32, 48, 64}));
}

// A verify on its own against a target that answers every read twice, the worker held after
// each first answer until the reader has dealt with the second: a block is counted once,
// the changed one as the only difference, and its late twin is not taken for the next block.
TEST_F(SeamTransferTest, VerifyCountsABlockAnsweredTwiceOnce) {
    sim::SimOptions options;
    options.answerTwice = true;
    const Bytes image = patternImage(4 * 64, 14);
    Bytes flash = image;
    flash[2 * 64 + 7] ^= 0x01;
    options.flashIn = m_dir.write("flash.bin", flash);
    startSim(options);
    int heldOpen = 0;
    test::ScopedTestSeams seams([&](TestSeam seam, uint32_t detail) {
        if (seam == TestSeam::RESPONSE_HANDLED) {
            m_progress.handled(detail);
        } else if (seam == TestSeam::ANSWER_TAKEN && g_transfer.state.load() == STATE_VERIFY) {
            const uint32_t key = readAnswerKey(g_transfer.address.load());
            heldOpen += m_progress.waitUntil([&] { return m_progress.handledCount(key) >= 2; });
        }
        return false;
    });
    startVerify(image.data(), image.size(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(20000), VERIFY_FAILED);
    EXPECT_EQ(heldOpen, 4);
    EXPECT_EQ(g_transfer.verifyTally.compared.load(), 4u);
    EXPECT_EQ(g_transfer.verifyTally.differing.load(), 1u);
    EXPECT_EQ(g_transfer.verifyTally.firstDiffering.load(), 2u);
    EXPECT_EQ(readAddresses(), (std::vector<uint16_t>{0, 16, 32, 48}));
}

// A read-back that goes on past block 4095: the address wraps from 0xFFF0 to 0 and the
// reads go on. The worker's counters are set as if 4094 blocks had been read already.
TEST_F(SeamTransferTest, CryptAddressWrapsPastTheLastBlockAndTheReadsGoOn) {
    sim::SimOptions options;
    const Bytes plain = patternImage(5 * 64, 13);
    options.flashIn = m_dir.write("flash.bin", plain);
    startSim(options);
    test::ScopedTestSeams seams([](TestSeam seam, uint32_t) {
        if (seam == TestSeam::COUNTERS_PRESET) {
            g_transfer.packetIndex.store(4094);
            g_transfer.address.store(0xFFD0);
        }
        return false;
    });
    const std::string output = m_dir.file("crypt.bin");
    startCryptReadBack(output.c_str(), port().c_str());
    ASSERT_EQ(awaitResult(20000), CRYPT_UPLOADED);
    EXPECT_EQ(readAddresses(),
              (std::vector<uint16_t>{0xFFE0, 0xFFF0, 0x0000, 0x0010, 0x0020, 0x0030}));
    EXPECT_EQ(test::readFile(output), sim::SimTarget::encrypt(plain));
    const auto statuses = m_recorder->statuses();
    ASSERT_EQ(statuses.size(), 7u);
    EXPECT_EQ(statuses[1], "Reading crypto binary: 4094");
    EXPECT_EQ(statuses[3], "Reading crypto binary: 4096");
    EXPECT_EQ(statuses.back(), "Reading crypto binary: 4099");
    EXPECT_EQ(m_recorder->progress(), std::vector<int>(6, 102));  // block / 40, 8 bits
}

enum class Kind { DOWNLOAD, CRYPT };

void startKind(Kind kind, const std::string& path, const std::string& port) {
    if (kind == Kind::DOWNLOAD) {
        startDownload(path.c_str(), port.c_str(), 0);
    } else {
        startCryptReadBack(path.c_str(), port.c_str());
    }
}

// The reader is held after it has taken an answer and before it signals, past the worker's
// wait: a crypt block's write to a slow disk, or a reader pre-empted at the wrong instant.
struct LateSignalCase {
    const char* name;
    Kind kind;
    TestSeam seam;     ///< where the reader is held, once
    uint32_t detail;   ///< at which answer: the command, or a read's block address
    uint8_t command;   ///< the request whose answer is held
    uint16_t address;  ///< its block address (reads and writes)
};

void PrintTo(const LateSignalCase& c, std::ostream* out) {
    *out << c.name;
}

class LateSignalTest : public SeamTransferTest,
                       public ::testing::WithParamInterface<LateSignalCase> {
  protected:
    int sentCount(uint8_t command, uint16_t address) const {
        int count = 0;
        for (const auto& frame : hostFrames()) {
            const bool addressed = command == 0x01 || command == 0x02;
            count +=
                frameCommand(frame) == command && (!addressed || frameAddress(frame) == address);
        }
        return count;
    }
};

// An answer taken inside the wait counts, whenever its signal comes: the request is not
// sent again, and the transfer ends as if the signal had been in time. The target, like a
// board that has started its application after the enable, answers nothing after its end.
TEST_P(LateSignalTest, AnswerTakenBeforeTheDeadlineCountsWhenItsSignalComesAfter) {
    const LateSignalCase& c = GetParam();
    const Bytes plain = patternImage(3 * 64, 18);
    sim::SimOptions options;
    options.once = true;
    options.flashIn = m_dir.write("flash.bin", plain);
    startSim(options);
    // The reader is held until the worker has gone past its wait for the held answer: it
    // has sent its next request (or the same one again) or ended. With no signal to wake
    // it, the worker waits out its deadline first (50 ms connecting, 500 ms a block); a
    // fixed hold would let the next request's wait run out while the reader is still held.
    std::atomic<int> holds{0};
    test::ScopedTestSeams seams([&](TestSeam seam, uint32_t detail) {
        if (seam == c.seam && detail == c.detail && holds.fetch_add(1) == 0) {
            const auto cap = std::chrono::steady_clock::now() + 5s;
            while (g_transfer.awaitedAnswer.load() == 0 &&
                   g_transfer.state.load() != STATE_IDLE &&
                   std::chrono::steady_clock::now() < cap) {
                std::this_thread::sleep_for(1ms);
            }
        }
        return false;
    });
    const Bytes image = patternImage(3 * 64, 19);
    const std::string path =
        c.kind == Kind::DOWNLOAD ? m_dir.write("image.bin", image) : m_dir.file("crypt.bin");
    startKind(c.kind, path, port());
    const auto result = awaitResult(20000);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, c.kind == Kind::DOWNLOAD ? SUCCESS : CRYPT_UPLOADED)
        << transferResultName(*result);
    EXPECT_GE(holds.load(), 1) << "the reader was not held";
    // Only the held request is counted: on a busy machine another request may time out once
    // (50 ms while connecting) and be sent again, as the protocol allows.
    EXPECT_EQ(sentCount(c.command, c.address), 1) << "the answered request was sent again";
    if (c.kind == Kind::DOWNLOAD) {
        EXPECT_EQ(m_sim->flash(), paddedImage(image));
    } else {
        EXPECT_EQ(test::readFile(path), sim::SimTarget::encrypt(plain));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LateSignalTest,
    ::testing::Values(
        LateSignalCase{"Handshake", Kind::DOWNLOAD, TestSeam::ANSWER_ACCEPTED, 0x04, 0x04, 0},
        LateSignalCase{"Write", Kind::DOWNLOAD, TestSeam::ANSWER_ACCEPTED, 0x01, 0x01, 0},
        LateSignalCase{"VerifyRead", Kind::DOWNLOAD, TestSeam::READ_ACCEPTED, 16, 0x02, 16},
        LateSignalCase{"Enable", Kind::DOWNLOAD, TestSeam::ANSWER_ACCEPTED, 0x03, 0x03, 0},
        LateSignalCase{"CryptBlock", Kind::CRYPT, TestSeam::READ_ACCEPTED, 16, 0x02, 16}),
    [](const auto& info) { return std::string(info.param.name); });

struct ThreadFailureCase {
    const char* name;
    Kind kind;
    std::function<void()> fail;
};

void PrintTo(const ThreadFailureCase& c, std::ostream* out) {
    *out << c.name;
}

class WorkerThreadFailureTest : public SeamTransferTest,
                                public ::testing::WithParamInterface<ThreadFailureCase> {};

// The worker thread cannot be made, whatever the exception: the start is undone (link and
// file closed, state idle), GENERAL_FAILURE is reported once, and the next start works.
TEST_P(WorkerThreadFailureTest, UndoesTheStartAndReportsAGeneralFailure) {
    const Bytes plain = patternImage(2 * 64, 14);
    sim::SimOptions options;
    options.flashIn = m_dir.write("flash.bin", plain);
    startSim(options);
    const std::string path = GetParam().kind == Kind::DOWNLOAD
                                 ? m_dir.write("image.bin", patternImage(3 * 64, 15))
                                 : m_dir.file("crypt.bin");
    {
        test::ScopedTestSeams seams([](TestSeam seam, uint32_t) {
            if (seam == TestSeam::WORKER_STARTING) {
                GetParam().fail();
            }
            return false;
        });
        startKind(GetParam().kind, path, port());
    }
    EXPECT_EQ(m_recorder->results(), (std::vector<uint8_t>{GENERAL_FAILURE}));
    EXPECT_EQ(g_transfer.state.load(), STATE_IDLE);
    EXPECT_EQ(g_transfer.link.load(), nullptr);
    EXPECT_EQ(g_transfer.file.load(), nullptr);
    EXPECT_FALSE(g_transfer.worker.load());
    EXPECT_TRUE(hostFrames().empty());

    startKind(GetParam().kind, path, port());
    EXPECT_EQ(awaitResult(15000, 2), GetParam().kind == Kind::DOWNLOAD ? SUCCESS : CRYPT_UPLOADED);
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, WorkerThreadFailureTest,
    ::testing::Values(
        ThreadFailureCase{"DownloadNoMemory", Kind::DOWNLOAD, [] { throw std::bad_alloc(); }},
        ThreadFailureCase{"DownloadNoThread", Kind::DOWNLOAD,
                          [] {
                              throw std::system_error(
                                  std::make_error_code(std::errc::resource_unavailable_try_again));
                          }},
        ThreadFailureCase{"CryptNoMemory", Kind::CRYPT, [] { throw std::bad_alloc(); }},
        ThreadFailureCase{"CryptSomethingElse", Kind::CRYPT, [] { throw 42; }}),
    [](const auto& info) { return std::string(info.param.name); });

struct CloseFailureCase {
    const char* name;
    Kind kind;
    uint8_t result;
};

void PrintTo(const CloseFailureCase& c, std::ostream* out) {
    *out << c.name;
}

class FileCloseFailureTest : public SeamTransferTest,
                             public ::testing::WithParamInterface<CloseFailureCase> {};

// The close of the transfer's file fails at the end. The image was only read: the flashed,
// verified, enabled download stays a success. The crypt output may lack data: no upload.
TEST_P(FileCloseFailureTest, OnlyTheCryptOutputsCloseDecides) {
    const Bytes plain = patternImage(2 * 64, 16);
    sim::SimOptions options;
    options.flashIn = m_dir.write("flash.bin", plain);
    startSim(options);
    const Bytes image = patternImage(3 * 64, 17);
    const std::string path = GetParam().kind == Kind::DOWNLOAD ? m_dir.write("image.bin", image)
                                                               : m_dir.file("crypt.bin");
    int closes = 0;
    test::ScopedTestSeams seams([&](TestSeam seam, uint32_t) {
        closes += seam == TestSeam::FILE_CLOSE;
        return seam == TestSeam::FILE_CLOSE;
    });
    startKind(GetParam().kind, path, port());
    ASSERT_EQ(awaitResult(15000), GetParam().result)
        << transferResultName(m_recorder->results().front());
    EXPECT_EQ(closes, 1);
    if (GetParam().kind == Kind::DOWNLOAD) {
        EXPECT_EQ(m_sim->flash(), paddedImage(image));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FileCloseFailureTest,
    ::testing::Values(CloseFailureCase{"ImageOfADownload", Kind::DOWNLOAD, SUCCESS},
                      CloseFailureCase{"CryptOutput", Kind::CRYPT, GENERAL_FAILURE}),
    [](const auto& info) { return std::string(info.param.name); });

// The last transfer left the receiver in the middle of a frame. A target that answers the
// instant the port opens (here: before the worker even asks) must find the receiver
// hunting for a frame start, not counting payload bytes of a frame long gone.
TEST_F(SeamTransferTest, ReceiverHuntsForAFrameFromTheFirstByteOfTheNewLink) {
    static std::mutex seenMutex;
    static std::condition_variable seenChanged;
    static std::vector<Bytes> received;
    received.clear();
    setFrameObserver([](FrameDirection direction, const uint8_t* frame, size_t size) {
        if (direction == FrameDirection::RECEIVED) {
            std::lock_guard lock(seenMutex);
            received.emplace_back(frame, frame + size);
            seenChanged.notify_all();
        }
    });
    const Bytes stale = {0xFE, 0x40, 0x4D, 0x82, 0x00};  // 64 payload bytes announced
    frameReceiverFeed(stale.data(), static_cast<int32_t>(stale.size()), nullptr);
    const Bytes answer = {0xFE, 0x00, 0x4D, 0x84, 0xC9};
    bool receivedInTime = false;
    {
        test::PtyPair target;
        test::ScopedTestSeams seams([&](TestSeam seam, uint32_t) {
            if (seam == TestSeam::LINK_OPENED) {
                target.write(answer);
                std::unique_lock lock(seenMutex);
                receivedInTime = seenChanged.wait_for(lock, 2s, [] { return !received.empty(); });
            }
            return false;
        });
        const std::string image = m_dir.write("image.bin", patternImage(64));
        startDownload(image.c_str(), target.slavePath().c_str(), 0);
        cancelTransfer();
        EXPECT_EQ(awaitResult(5000), DOWNLOAD_CANCELED);
    }
    EXPECT_TRUE(receivedInTime);
    std::lock_guard lock(seenMutex);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.front(), answer);
}

}  // namespace
}  // namespace tarnlink
