#pragma once
// The order in which `ports` lists the serial ports: ttyS2 before ttyS10, COM2 before COM10.

#include <string>

namespace tarnlink {

/// Compares the name without its trailing digits first, then the number those digits make
/// (a name without one comes first among its kind).
bool naturalPortLess(const std::string& a, const std::string& b);

}  // namespace tarnlink
