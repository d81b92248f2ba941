#include "ui/qt/informational_options.h"

#include <cstring>

namespace tarnlink {

namespace {

constexpr const char* HELP =
    "Usage: tarnlink [--help | --version]\n"
    "Download an image to a target's boot loader over a serial port, or read its encrypted\n"
    "image back, in one dialog window.\n"
    "\n"
    "Enter the image file (or pick it with \"...\") and the port: a number n for the n-th\n"
    "serial port (/dev/ttyS<n-1>) or a device path such as /dev/ttyUSB0. \"Load Image\"\n"
    "downloads the file, reads every block back, compares it and enables the new image;\n"
    "\"Crypt Image\" reads the target's encrypted image into the named file. While a transfer\n"
    "runs its button reads \"Cancel\". The program keeps no settings between runs.\n"
    "\n"
    "Options:\n"
    "  -h, --help       show this help and exit\n"
    "  -V, --version    print the version and exit\n"
    "\n"
    "For scripts and production lines use tarnlink-cli; 'tarnlink-cli doctor' checks the\n"
    "serial set-up of this machine.\n";

}  // namespace

std::optional<int> answerInformationalOption(int argc, const char* const* argv, std::FILE* out) {
    if (argc != 2) {
        return std::nullopt;
    }
    const char* option = argv[1];
    if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
        std::fputs(HELP, out);
        return 0;
    }
    if (std::strcmp(option, "--version") == 0 || std::strcmp(option, "-V") == 0) {
        std::fprintf(out, "tarnlink %s\n", TARNLINK_VERSION);
        return 0;
    }
    return std::nullopt;
}

}  // namespace tarnlink
