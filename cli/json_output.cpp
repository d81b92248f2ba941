#include "cli/json_output.h"

#include <cstdio>

#include "transfer/transfer_context.h"

namespace tarnlink {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

namespace {

std::string numberOrNull(double value) {
    if (value < 0) {
        return "null";
    }
    char number[64];
    std::snprintf(number, sizeof number, "%.3f", value);
    return number;
}

std::string lineFiguresJson(const LineFigures& line) {
    return ", \"turnaround_ms\": " + numberOrNull(line.turnaroundMs) +
           ", \"efficiency\": " + numberOrNull(line.efficiency);
}

}  // namespace

std::string transferResultJson(uint8_t result, uint32_t blocks, double seconds,
                               const LineFigures& line) {
    char number[64];
    std::string out = "{\"result\": " + std::to_string(result);
    out += ", \"name\": " + jsonString(transferResultName(result));
    out += ", \"message\": " + jsonString(transferResultMessage(result));
    out += ", \"blocks\": " + std::to_string(blocks);
    std::snprintf(number, sizeof number, "%.3f", seconds < 0 ? 0.0 : seconds);
    out += ", \"seconds\": ";
    out += number;
    out += lineFiguresJson(line);
    out += "}";
    return out;
}

}  // namespace tarnlink
