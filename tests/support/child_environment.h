#pragma once
// The environment of a program that a test starts. Nothing of the caller's comes along but
// what running the build needs: a terminal type, a locale or a display of the caller's must
// not change what the program under test does.

#include <string>
#include <vector>

namespace tarnlink::test {

/// PATH, the C.UTF-8 locale, TARNLINK_BUILD_DIR and the sanitizers' options of this
/// process, then `extra` ("NAME=value"; a name already there is replaced).
std::vector<std::string> childEnvironment(const std::vector<std::string>& extra = {});

}  // namespace tarnlink::test
