#pragma once
// Which boards a run flashes, and the file each board writes: from --port (several, "all",
// "auto" or none, then $TARNLINK_PORT) to a list of ports, and from OUTPUT or --trace to a
// file per board that carries the port's name.

#include <string>
#include <vector>

#include "cli/ports/serial_ports.h"

namespace tarnlink {

struct PortChoice {
    std::vector<std::string> ports;  ///< as the user named them; device paths for all/auto
    bool station = false;            ///< one child process per board
    std::string error;               ///< why no port can be used; empty when fine
    bool usageError = false;         ///< the error is in the command line itself (exit 64)
};

/// The ports of a run. `arguments` are the --port values in order; with none, the
/// environment's TARNLINK_PORT (`environmentPort`, may be empty) stands in. "auto" is the
/// one USB serial port of `available` and fails naming the candidates unless there is
/// exactly one; "all" is every USB serial port of `available`. A station runs when there
/// are several ports, with "all", or with `loop`.
PortChoice choosePorts(const std::vector<std::string>& arguments,
                       const std::string& environmentPort,
                       const std::vector<SerialPortInfo>& available, bool loop);

/// For each port, the text that goes into its file names: the device's own name
/// ("ttyUSB0", "COM3"), or, where two ports share that name, the whole path with its
/// separators turned into '_'. Only letters, digits, '.', '_' and '-' remain.
std::vector<std::string> portFileTags(const std::vector<std::string>& ports);

/// `path` with "-TAG" put before the extension of its file name, and "-NUMBER" after the
/// tag when `number` is not 0: crypt.bin -> crypt-ttyUSB0.bin, crypt-ttyUSB0-2.bin.
std::string boardFilePath(const std::string& path, const std::string& tag, unsigned number);

}  // namespace tarnlink
