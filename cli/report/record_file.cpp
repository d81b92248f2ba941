#include "cli/report/record_file.h"

#include <cmath>
#include <cstdio>

#include "cli/report/json_report.h"
#include "cli/system/locked_file.h"

namespace tarnlink {

namespace {

std::string csvField(std::string text) {
    bool quote = false;
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = ' ';
        } else if (c == ',' || c == '"') {
            quote = true;
        }
    }
    if (!quote) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string numberField(const nlohmann::ordered_json& report, const char* key, bool seconds) {
    const auto it = report.find(key);
    if (it == report.end() || !it->is_number()) {
        return {};
    }
    char text[48];
    if (seconds) {
        std::snprintf(text, sizeof text, "%.3f", it->get<double>());
    } else {
        std::snprintf(text, sizeof text, "%.0f", std::floor(it->get<double>()));
    }
    return text;
}

}  // namespace

std::string recordHeader() {
    return "time,port,usb_serial,command,file,sha256,result,seconds,retries,format,image_sha256,"
           "base,serial\n";
}

std::string recordLine(const nlohmann::ordered_json& report) {
    const std::string command = jsonText(report, "command");
    const std::string file = jsonText(report, command == "crypt" ? "output" : "image");
    std::string line = csvField(jsonText(report, "time"));
    line += "," + csvField(jsonText(report, "port"));
    line += "," + csvField(jsonText(report, "usb_serial"));
    line += "," + csvField(command);
    line += "," + csvField(file);
    line += "," + csvField(jsonText(report, "sha256"));
    line += "," + csvField(jsonText(report, "name"));
    line += "," + numberField(report, "seconds", true);
    line += "," + numberField(report, "retries", false);
    line += "," + csvField(jsonText(report, "format"));
    line += "," + csvField(jsonText(report, "image_sha256"));
    line += "," + csvField(jsonText(report, "base"));
    line += "," + csvField(jsonText(report, "serial"));
    return line + "\n";
}

bool appendRecord(const std::string& path, const nlohmann::ordered_json& report,
                  std::string* error) {
    return appendWithHeader(path, recordHeader(), recordLine(report), error);
}

}  // namespace tarnlink
