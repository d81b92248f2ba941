// tarnlink: the dialog program.

#include "ui/qt/tarnlink_app.h"

int main(int argc, char** argv) {
    tarnlink::CTarnlinkApp app(argc, argv);
    app.InitInstance();
    return 0;
}
