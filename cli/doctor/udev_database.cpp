#include "cli/doctor/udev_database.h"

namespace tarnlink::doctor {

std::optional<UdevRecord> readUdevRecord(const SystemRoot& root, const std::string& udevId) {
    const std::string path = "/run/udev/data/" + udevId;
    if (!root.exists(path)) {
        return std::nullopt;
    }
    UdevRecord record;
    for (const std::string& line : root.lines(path)) {
        if (line.size() < 2 || line[1] != ':') {
            continue;
        }
        const std::string value = line.substr(2);
        if (line[0] == 'E') {
            const size_t equals = value.find('=');
            if (equals != std::string::npos) {
                record.properties[value.substr(0, equals)] = value.substr(equals + 1);
            }
        } else if (line[0] == 'G' || line[0] == 'Q') {
            record.tags.insert(value);
        }
    }
    return record;
}

}  // namespace tarnlink::doctor
