#include "cli/system/program_arguments.h"

namespace tarnlink {

std::vector<std::string> programArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

}  // namespace tarnlink
