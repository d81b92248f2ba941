#include "ui/qt/string_resources.h"

#include "ui/resource_ids.h"

namespace tarnlink {

QString loadStringResource(int id) {
    switch (id) {
        case IDS_ABOUTBOX:
            return QStringLiteral("&About Tarnlink...");
        default:
            return {};
    }
}

}  // namespace tarnlink
