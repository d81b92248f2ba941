// A stand-in child for the Windows child-process tests. What it does is its first argument:
//   args ARG...      one line per further argument: its bytes in hex (so nothing of the
//                    argument, blanks, quotes or backslashes, is lost in the telling)
//   utf8args ARG...  the same, the arguments read as tarnlink-cli reads them (UTF-8)
//   exit N           exits with status N
//   talk             writes "out" to stdout and "err" to stderr, exits 3
//   echo             copies stdin to stdout up to its end, then exits 0
//   sleep            waits 60 s
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/system/program_arguments.h"

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "args" || mode == "utf8args") {
        const std::vector<std::string> args = mode == "args"
                                                  ? std::vector<std::string>(argv, argv + argc)
                                                  : tarnlink::programArguments(argc, argv);
        for (size_t i = 2; i < args.size(); ++i) {
            for (const char c : args[i]) {
                std::printf("%02x", static_cast<unsigned char>(c));
            }
            std::printf("\n");
        }
        return 0;
    }
    if (mode == "exit" && argc > 2) {
        return std::atoi(argv[2]);
    }
    if (mode == "talk") {
        std::fputs("out\n", stdout);
        std::fputs("err\n", stderr);
        return 3;
    }
    if (mode == "echo") {
        char buffer[256];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
            std::fwrite(buffer, 1, n, stdout);
            std::fflush(stdout);
        }
        return 0;
    }
    if (mode == "sleep") {
        Sleep(60000);
        return 0;
    }
    std::fprintf(stderr, "child_helper: unknown mode '%s'\n", mode.c_str());
    return 64;
}
