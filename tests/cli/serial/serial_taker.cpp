// Takes values from a counter or a list as a board would, one line each on stdout:
//   tarnlink_serial_taker counter FILE FORMAT COUNT
//   tarnlink_serial_taker list FILE COUNT
// For the tests of the lock between processes: it starts taking once a line comes on its
// standard input, so that takers started one after the other take at the same time.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/serial/serial_source.h"

int main(int argc, char** argv) {
    using namespace tarnlink;
    const std::string kind = argc > 1 ? argv[1] : "";
    SerialSource source;
    std::string error;
    int count = 0;
    if (kind == "counter" && argc == 5) {
        source.path = argv[2];
        source.format = parseSerialFormat(argv[3], &error).value_or(SerialFormat{});
        count = std::atoi(argv[4]);
    } else if (kind == "list" && argc == 4) {
        source.kind = SerialSource::LIST;
        source.path = argv[2];
        count = std::atoi(argv[3]);
    } else {
        std::fprintf(stderr, "usage: counter FILE FORMAT COUNT | list FILE COUNT\n");
        return 64;
    }
    char go[16];
    if (std::fgets(go, sizeof go, stdin) == nullptr) {
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        const std::optional<SerialValue> value = takeSerialValue(source, &error);
        if (!value) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::printf("%s\n", value->text.c_str());
        std::fflush(stdout);
    }
    return 0;
}
