// tarnlink: the dialog program.

#include "ui/qt/informational_options.h"
#include "ui/qt/tarnlink_app.h"

int main(int argc, char** argv) {
    if (const auto status = tarnlink::answerInformationalOption(argc, argv, stdout)) {
        return *status;
    }
    tarnlink::CTarnlinkApp app(argc, argv);
    app.InitInstance();
    return 0;
}
