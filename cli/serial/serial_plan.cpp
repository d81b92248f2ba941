#include "cli/serial/serial_plan.h"

#include "cli/report/sha256.h"

namespace tarnlink {

std::string placeSerial(FlatImage& image, uint64_t at, const SerialValue& value) {
    const std::string problem = placeBytes(image, at, value.bytes.data(), value.bytes.size());
    return problem.empty() ? "" : "the value " + value.text + " at " + hexAddress(at) + ": " + problem;
}

std::vector<SerialPlanRow> planSerials(const SerialSource& source, const FlatImage& image,
                                       uint64_t at, size_t count) {
    std::vector<SerialPlanRow> rows;
    for (const SerialPeek& peek : peekSerialValues(source, count)) {
        SerialPlanRow& row = rows.emplace_back();
        row.error = peek.error;
        if (peek.value) {
            row.value = peek.value->text;
            FlatImage board = image;
            row.error = placeSerial(board, at, *peek.value);
            if (row.error.empty()) {
                row.imageSha256 = sha256Of(board.bytes);
            }
        }
        if (!row.error.empty()) {
            break;
        }
    }
    return rows;
}

}  // namespace tarnlink
