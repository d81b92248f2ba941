#include "cli/report/transfer_events.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarnlink {

std::string isoTimeUtc(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    // Calendar arithmetic of <chrono>: no gmtime, so any thread may call it.
    const auto ms = floor<milliseconds>(when);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> time{ms - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()),
                  int(time.subseconds().count()));
    return text;
}

std::string isoTimeNow() {
    return isoTimeUtc(std::chrono::system_clock::now());
}

nlohmann::ordered_json newEvent(const char* kind, const std::string& port) {
    nlohmann::ordered_json event;
    event["event"] = kind;
    event["port"] = port;
    event["time"] = isoTimeNow();
    return event;
}

nlohmann::ordered_json statusEvent(const std::string& port, const ProgressSnapshot& s) {
    nlohmann::ordered_json event = newEvent("status", port);
    event["text"] = s.status;
    event["phase"] = s.phase;
    event["percent"] = s.percent >= 0 ? nlohmann::ordered_json(s.percent) : nullptr;
    event["blocks_done"] = s.blocksDone;
    event["blocks_total"] = s.blocksTotal > 0 ? nlohmann::ordered_json(s.blocksTotal) : nullptr;
    event["bytes_per_second"] = s.bytesPerSecond >= 0
                                    ? nlohmann::ordered_json(std::round(s.bytesPerSecond * 10) / 10)
                                    : nullptr;
    return event;
}

nlohmann::ordered_json progressEvent(const std::string& port, unsigned value) {
    nlohmann::ordered_json event = newEvent("progress", port);
    event["value"] = value;
    return event;
}

nlohmann::ordered_json resultEvent(const nlohmann::ordered_json& report) {
    nlohmann::ordered_json event;
    event["event"] = "result";
    event["port"] = report.value("port", "");
    event["time"] = report.contains("time") ? report["time"] : nlohmann::ordered_json(isoTimeNow());
    for (const auto& [key, value] : report.items()) {
        if (key != "port" && key != "time") {
            event[key] = value;
        }
    }
    return event;
}

ProgressSnapshot snapshotFromEvent(const nlohmann::ordered_json& event) {
    ProgressSnapshot s;
    if (!event.is_object()) {
        return s;
    }
    auto text = [&](const char* key) {
        const auto it = event.find(key);
        return it != event.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    auto number = [&](const char* key, double fallback) {
        const auto it = event.find(key);
        return it != event.end() && it->is_number() ? it->get<double>() : fallback;
    };
    s.status = text("text");
    s.phase = text("phase");
    s.percent = static_cast<int>(std::clamp(number("percent", -1), -1.0, 100.0));
    s.blocksDone = static_cast<uint32_t>(std::clamp(number("blocks_done", 0), 0.0, 65536.0));
    s.blocksTotal = static_cast<uint32_t>(std::clamp(number("blocks_total", 0), 0.0, 65536.0));
    s.bytesPerSecond = number("bytes_per_second", -1);
    return s;
}

std::string eventLine(const nlohmann::ordered_json& event) {
    return event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace tarnlink
