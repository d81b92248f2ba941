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

}  // namespace

const char* transferResultMessage(unsigned result) {
    return result <= TRANSFER_RESULT_LAST ? kResultTexts[result].message : "";
}

const char* transferResultName(unsigned result) {
    return result <= TRANSFER_RESULT_LAST ? kResultTexts[result].name : "";
}

}  // namespace tarnlink
