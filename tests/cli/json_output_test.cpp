#include "cli/json_output.h"

#include <gtest/gtest.h>

#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

TEST(JsonOutputTest, StringsAreEscaped) {
    EXPECT_EQ(jsonString("plain"), "\"plain\"");
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString("line\nnext\ttab\r"), "\"line\\nnext\\ttab\\r\"");
    EXPECT_EQ(jsonString(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(jsonString(std::string("nul\0byte", 8)), "\"nul\\u0000byte\"");
    EXPECT_EQ(jsonString("caf\xc3\xa9"), "\"caf\xc3\xa9\"");  // UTF-8 passes as it is
}

TEST(JsonOutputTest, ResultObjectHasEveryField) {
    EXPECT_EQ(
        transferResultJson(TARGET_TIMEOUT, 12, 3.25),
        "{\"result\": 6, \"name\": \"TARGET_TIMEOUT\", \"message\": \"Timeout waiting for "
        "response from target\", \"blocks\": 12, \"seconds\": 3.250, \"turnaround_ms\": null, "
        "\"efficiency\": null}");
    EXPECT_EQ(transferResultJson(CRYPT_UPLOADED, 0, 0),
              "{\"result\": 11, \"name\": \"CRYPT_UPLOADED\", \"message\": \"Crypto uploaded "
              "successfully.\", \"blocks\": 0, \"seconds\": 0.000, \"turnaround_ms\": null, "
              "\"efficiency\": null}");
    // A value without a name or message still gives valid JSON.
    EXPECT_EQ(transferResultJson(200, 1, 1.0),
              "{\"result\": 200, \"name\": \"\", \"message\": \"\", \"blocks\": 1, \"seconds\": "
              "1.000, \"turnaround_ms\": null, \"efficiency\": null}");
}

TEST(JsonOutputTest, LineFiguresAreNumbersOnceMeasured) {
    LineFigures line;
    line.exchanges = 32;
    line.turnaroundMs = 16.2154;
    line.efficiency = 0.1234;
    EXPECT_EQ(transferResultJson(SUCCESS, 32, 1.5, line),
              "{\"result\": 0, \"name\": \"SUCCESS\", \"message\": \"Download completed "
              "successfully\", \"blocks\": 32, \"seconds\": 1.500, \"turnaround_ms\": 16.215, "
              "\"efficiency\": 0.123}");
}

}  // namespace
}  // namespace tarnlink
