#pragma once
// What a station writes to its child's standard input: lines, of which "cancel" asks the
// child to cancel its transfer.

#include <string>

namespace tarnlink {

/// Takes the whole lines off the front of `pending` (the input as it came, in pieces of any
/// size) and returns how many of them said "cancel" (a CR before the LF allowed). A
/// remainder longer than any request is dropped.
int takeCancelLines(std::string& pending);

}  // namespace tarnlink
