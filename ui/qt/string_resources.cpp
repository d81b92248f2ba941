#include "ui/qt/string_resources.h"

#include "ui/dialog_texts.h"
#include "ui/resource_ids.h"

namespace tarnlink {

QString loadStringResource(int id) {
    switch (id) {
        case IDS_ABOUTBOX:
            return QString::fromUtf8(TEXT_ABOUT_MENU_ITEM);
        default:
            return {};
    }
}

}  // namespace tarnlink
