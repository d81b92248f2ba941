#include "transfer/transfer_context.h"

namespace tarnlink {

TransferContext g_transfer;

namespace {

struct ResultText {
    const char* name;
    const char* message;
};

constexpr ResultText kResultTexts[] = {
    {"SUCCESS", "Download completed successfully"},
    {"GENERAL_FAILURE", "General Failure"},
    {"INVALID_FCS", "Invalid FCS"},
    {"BAD_IMAGE_FILE", "Bad image file"},
    {"IMAGE_FILE_ERROR", "Unable to open image file"},
    {"DOWNLOAD_IN_PROGRESS", "A download is already in progress"},
    {"TARGET_TIMEOUT", "Timeout waiting for response from target"},
    {"VERIFY_FAILED", "Verification of download failed"},
    {"DOWNLOAD_CANCELED", "Download canceled"},
    {"OUT_OF_SEQUENCE", "OUT_OF_SEQUENCE"},
    {"SERIALPORT_ERROR", "SERIALPORT_ERROR"},
    {"CRYPT_UPLOADED", "Crypto uploaded successfully."},
};
static_assert(sizeof(kResultTexts) / sizeof(kResultTexts[0]) == TRANSFER_RESULT_LAST + 1u);

// Bit 24 marks an armed token, so that no armed value is 0; the command code sits above
// the 16-bit block address.
constexpr uint32_t ANSWER_ARMED = 1u << 24;

uint32_t answerToken(uint8_t command, uint16_t address) {
    return ANSWER_ARMED | static_cast<uint32_t>(command) << 16 | address;
}

}  // namespace

void expectAnswer(TransferContext& ctx, uint8_t command, uint16_t address) {
    ctx.awaitedAnswer.store(answerToken(command, address));
}

bool isAwaitedAnswer(const TransferContext& ctx, uint8_t command, uint16_t address) {
    return ctx.awaitedAnswer.load() == answerToken(command, address);
}

bool takeAwaitedAnswer(TransferContext& ctx, uint8_t command, uint16_t address) {
    uint32_t expected = answerToken(command, address);
    return ctx.awaitedAnswer.compare_exchange_strong(expected, 0);
}

bool awaitedAnswerTaken(const TransferContext& ctx) {
    return ctx.awaitedAnswer.load() == 0;
}

void countVerifiedBlock(TransferContext& ctx, uint16_t index, uint16_t address, bool differs) {
    VerifyTally& tally = ctx.verifyTally;
    if (differs) {
        if (tally.differing.fetch_add(1) == 0) {
            tally.firstDifferingAddress.store(address);
            tally.firstDiffering.store(index);
        }
    }
    tally.compared.fetch_add(1);
}

void resetVerifyTally(TransferContext& ctx) {
    VerifyTally& tally = ctx.verifyTally;
    tally.compared.store(0);
    tally.differing.store(0);
    tally.firstDiffering.store(NO_BLOCK);
    tally.firstDifferingAddress.store(0);
}

const char* transferResultMessage(unsigned result) {
    return result <= TRANSFER_RESULT_LAST ? kResultTexts[result].message : "";
}

const char* transferResultName(unsigned result) {
    return result <= TRANSFER_RESULT_LAST ? kResultTexts[result].name : "";
}

}  // namespace tarnlink
