#include "cli/program/dry_run.h"

#include <nlohmann/json.hpp>

#include "cli/report/transfer_events.h"
#include "cli/serial/serial_plan.h"
#include "cli/system/terminal.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

namespace {

nlohmann::ordered_json textOrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

}  // namespace

int showDryRun(const CliOptions& options, const ImageInput& image) {
    std::vector<SerialPlanRow> rows;
    if (options.serial.at) {
        rows = planSerials(options.serial.source, image.loaded.flat, *options.serial.at,
                           options.dryRunBoards);
    } else {
        rows.assign(options.dryRunBoards, SerialPlanRow{"", image.imageSha256, ""});
    }
    const bool stopped = !rows.back().error.empty();
    if (options.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (size_t i = 0; i < rows.size(); ++i) {
            nlohmann::ordered_json& board = list.emplace_back();
            board["board"] = i + 1;
            board["serial"] = textOrNull(rows[i].value);
            board["image_sha256"] = textOrNull(rows[i].imageSha256);
            board["error"] = textOrNull(rows[i].error);
        }
        writeText(stdout, eventLine(list));
    } else {
        std::string text = "Dry run: no port opened, no value taken\n";
        for (size_t i = 0; i < rows.size(); ++i) {
            text += "Board " + std::to_string(i + 1) + ": ";
            if (!rows[i].error.empty()) {
                text += "stopped: " + rows[i].error + "\n";
            } else if (!rows[i].value.empty()) {
                text += "serial " + rows[i].value + ", image SHA-256 " + rows[i].imageSha256 + "\n";
            } else {
                text += "image SHA-256 " + rows[i].imageSha256 + "\n";
            }
        }
        writeText(stdout, text);
    }
    return stopped ? int{GENERAL_FAILURE} : 0;
}

}  // namespace tarnlink
