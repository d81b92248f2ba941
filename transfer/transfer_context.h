#pragma once
// The one record that the user-interface thread, the worker and the reader thread share
// for a transfer, with its states and result codes. Every field that more than one thread
// touches is an atomic of the width the protocol gives it, stored whole and read afresh.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace tarnlink {

struct SerialLink;
class AutoResetEvent;

enum TransferState : uint8_t {
    STATE_IDLE = 0,
    STATE_CONNECT = 1,
    STATE_WRITE = 2,
    STATE_VERIFY_START = 3,
    STATE_VERIFY = 4,
    STATE_ENABLE = 5,
    STATE_CRYPT = 6,
    STATE_CANCEL = 7,
};

enum TransferResult : uint8_t {
    SUCCESS = 0,
    GENERAL_FAILURE = 1,
    INVALID_FCS = 2,
    BAD_IMAGE_FILE = 3,
    IMAGE_FILE_ERROR = 4,
    DOWNLOAD_IN_PROGRESS = 5,
    TARGET_TIMEOUT = 6,
    VERIFY_FAILED = 7,
    DOWNLOAD_CANCELED = 8,
    OUT_OF_SEQUENCE = 9,
    SERIALPORT_ERROR = 10,
    CRYPT_UPLOADED = 11,
};

/// A block is 64 bytes of the image, 16 words; block k lies at word address 16 * k.
inline constexpr uint32_t BLOCK_BYTES = 64;
inline constexpr uint32_t BLOCK_WORDS = 16;
/// The longest image: 65,535 words (262,140 bytes, 4096 blocks).
inline constexpr uint32_t IMAGE_MAX_WORDS = 0xFFFF;

/// Highest result value that has a message.
inline constexpr uint8_t TRANSFER_RESULT_LAST = CRYPT_UPLOADED;

/// The text the dialog shows for `result`; empty for values above TRANSFER_RESULT_LAST.
/// Static storage, any thread.
const char* transferResultMessage(unsigned result);

/// The enumerator's name ("TARGET_TIMEOUT"); empty for unknown values. Static storage.
const char* transferResultName(unsigned result);

/// Index of no block: the first differing block of a verify that found none.
inline constexpr uint32_t NO_BLOCK = 0xFFFFFFFF;

/// What a verify-only transfer found, block by block; zeroed by each start and complete
/// once its result has arrived. Written by the dispatcher, read by anyone.
struct VerifyTally {
    std::atomic<uint32_t> compared{0};               ///< blocks read back and compared
    std::atomic<uint32_t> differing{0};              ///< of those, blocks unlike the image
    std::atomic<uint32_t> firstDiffering{NO_BLOCK};  ///< index of the first one that differed
    std::atomic<uint16_t> firstDifferingAddress{0};  ///< its target word address
};

/// Told of a crypt output's bytes as they reach it, on the reader thread: the blocks in the
/// order written, each once, and a write that failed with its errno. What a report says of
/// the output comes from here, never from reading the output again (it may be a pipe or a
/// device). The object must outlive every transfer it is set for.
class CryptOutputObserver {
  public:
    virtual void blockWritten(const uint8_t* block, size_t size) = 0;
    virtual void writeFailed(int error) = 0;

  protected:
    ~CryptOutputObserver() = default;
};

struct TransferContext {
    std::atomic<uint8_t> state{STATE_IDLE};          ///< TransferState
    std::atomic<SerialLink*> link{nullptr};          ///< open link of the transfer
    std::atomic<uint8_t> skipResetVector{0};         ///< 1: bytes 0-2 of block 0 not verified
    std::atomic<uint8_t*> image{nullptr};            ///< image buffer (malloc), download only
    std::atomic<std::FILE*> file{nullptr};           ///< image ("rb") or crypt output ("wb")
    std::atomic<uint16_t> imageWords{0};             ///< image length in 4-byte words
    std::atomic<uint8_t> result{SUCCESS};            ///< TransferResult recorded so far
    std::atomic<uint16_t> packetIndex{0};            ///< current block, from 0
    std::atomic<uint16_t> address{0};                ///< word address of the current block
    std::atomic<bool> worker{false};                 ///< a worker thread runs for the transfer
    std::atomic<AutoResetEvent*> ackEvent{nullptr};  ///< set by the dispatcher on acceptance
    /// Block requests (write, read-back, enable) sent again because the target did not
    /// answer in time; zeroed by each start. Connect attempts are not counted.
    std::atomic<uint32_t> repeats{0};
    /// 1: the download worker connects and reads every block back, writing and enabling
    /// nothing; a differing block is counted in verifyTally, not an end. Set by each start.
    std::atomic<uint8_t> verifyOnly{0};
    VerifyTally verifyTally;
    /// A reader that the link's close gave up on still holds ackEvent, image and file; it
    /// releases them and clears this when it ends. No transfer starts until then.
    std::atomic<bool> readerOwnsTransfer{false};
    /// The one answer the worker waits for, armed before each send (expectAnswer) and
    /// taken by the dispatcher when it accepts that answer (takeAwaitedAnswer); 0 once taken.
    std::atomic<uint32_t> awaitedAnswer{0};
    /// The link's reader ended because the port went away (an adapter unplugged); set by
    /// the reader, cleared by each start. The worker then ends with SERIALPORT_ERROR.
    std::atomic<bool> portLost{false};
    /// Set by whoever starts a crypt and wants to see its output; null for none.
    std::atomic<CryptOutputObserver*> cryptOutputObserver{nullptr};
};

/// Worker, before it sends a request: one answer with the command code `command` (for a
/// read, carrying block address `address`) may now be accepted. Replaces what was armed.
void expectAnswer(TransferContext& ctx, uint8_t command, uint16_t address = 0);

/// Dispatcher: true while an answer with `command` and `address` is awaited. Changes nothing.
bool isAwaitedAnswer(const TransferContext& ctx, uint8_t command, uint16_t address = 0);

/// Dispatcher: accepts that answer, once. False when it is not (or no longer) awaited, as
/// for a second answer to the same request, so a caller that gets false must drop it.
bool takeAwaitedAnswer(TransferContext& ctx, uint8_t command, uint16_t address = 0);

/// Worker: true once the dispatcher has taken the answer that was armed last.
bool awaitedAnswerTaken(const TransferContext& ctx);

/// Dispatcher, verify only: counts the awaited block `index` at word address `address` as
/// compared, and as differing when `differs`.
void countVerifiedBlock(TransferContext& ctx, uint16_t index, uint16_t address, bool differs);

/// Start operations: zeroes the tally for a new transfer.
void resetVerifyTally(TransferContext& ctx);

/// The program's one transfer context.
extern TransferContext g_transfer;

}  // namespace tarnlink
