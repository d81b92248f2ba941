#pragma once
// ELF executables, 32- and 64-bit, either byte order: the data of every loadable segment
// (PT_LOAD) that has bytes in the file, placed at its physical address (where it is
// loaded into flash, which for initialised RAM data differs from where it runs).

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/flat_image.h"

namespace tarnlink {

/// True when `data` starts with the ELF magic (0x7F 'E' 'L' 'F').
bool hasElfMagic(const uint8_t* data, size_t size);

/// Reads the loadable segments of the ELF file `data` into `out`, numbered by their
/// program header (from 0). Segments without file bytes (only .bss) are left out. Every
/// header and segment is checked to lie inside `data`. Returns why the file cannot be
/// used, or empty.
std::string parseElf(const uint8_t* data, size_t size, ImageSegments& out);

}  // namespace tarnlink
