#include "cli/serial/serial_options.h"

#include <CLI/CLI.hpp>

#include "image/flat_image.h"

namespace tarnlink {

void addSerialOptions(CLI::App& command, SerialArguments& arguments) {
    command
        .add_option("--serial-at", arguments.at,
                    "byte offset in the flat image where each board's value goes, hex (0x7F00) "
                    "or decimal; the image grows with 0xFF up to it")
        ->type_name("ADDR");
    command
        .add_option("--serial-format", arguments.format,
                    "how a counter's value is written: u16le u16be u32le u32be u64le u64be, "
                    "ascii:N (N decimal digits) or hex:N (N hex digits as text)")
        ->type_name("FMT");
    command
        .add_option("--serial-counter", arguments.counter,
                    "file holding the next value; each board takes one, under a lock")
        ->type_name("FILE");
    command
        .add_option("--serial-start", arguments.start,
                    "creates the counter with this value; refused when it holds another")
        ->type_name("N");
    command
        .add_option("--serial-step", arguments.step, "added to the counter after each board (1)")
        ->type_name("K")
        ->check(CLI::PositiveNumber);
    command
        .add_option("--serial-list", arguments.list,
                    "file of values as hex bytes, one a line (00:1B:63:84:45:E6); each board "
                    "takes the next unused line, marked in FILE.used")
        ->type_name("FILE");
    command
        .add_option("--serial-value", arguments.value,
                    "this one value, taking nothing: a board flashed again, or verified (a "
                    "number in --serial-format, or hex bytes without it)")
        ->type_name("TEXT");
}

std::string serialRequestFrom(const SerialArguments& arguments, bool verifying,
                              SerialRequest& request) {
    const int sources =
        int{!arguments.counter.empty()} + int{!arguments.list.empty()} + int{!arguments.value.empty()};
    const bool any = sources > 0 || !arguments.at.empty() || !arguments.format.empty() ||
                     !arguments.start.empty() || arguments.step != 1;
    if (!any) {
        return "";
    }
    if (arguments.at.empty()) {
        return "a board's own value needs --serial-at ADDR: where in the image it goes";
    }
    request.at = parseAddress(arguments.at);
    if (!request.at) {
        return "--serial-at '" + arguments.at +
               "' is no offset; give hex digits after 0x (0x7F00) or a decimal number";
    }
    if (sources != 1) {
        return "--serial-at needs one of --serial-counter, --serial-list and --serial-value";
    }
    if (arguments.counter.empty() && (!arguments.start.empty() || arguments.step != 1)) {
        return "--serial-start and --serial-step belong to --serial-counter";
    }
    if (verifying && arguments.value.empty()) {
        return "verify compares a board flashed earlier: give its value with --serial-value";
    }
    SerialSource& source = request.source;
    std::string error;
    if (!arguments.format.empty()) {
        if (!arguments.list.empty()) {
            return "--serial-format is for a counter or --serial-value; a list's lines are the "
                   "bytes as they go into the image";
        }
        const std::optional<SerialFormat> format = parseSerialFormat(arguments.format, &error);
        if (!format) {
            return "--serial-format: " + error;
        }
        source.format = *format;
    } else if (!arguments.counter.empty()) {
        return "--serial-counter needs --serial-format (u32le, ascii:8, ...)";
    }
    if (!arguments.counter.empty()) {
        source.kind = SerialSource::COUNTER;
        source.path = arguments.counter;
        source.step = arguments.step;
        if (!arguments.start.empty()) {
            source.start = parseAddress(arguments.start);
            if (!source.start) {
                return "--serial-start '" + arguments.start + "' is no number";
            }
        }
    } else if (!arguments.list.empty()) {
        source.kind = SerialSource::LIST;
        source.path = arguments.list;
    } else {
        source.kind = SerialSource::FIXED;
        source.text = arguments.value;
        source.hexBytes = arguments.format.empty();
        if (!takeSerialValue(source, &error)) {
            return "--serial-value: " + error;
        }
    }
    return "";
}

std::vector<std::string> serialChildArguments(const SerialRequest& request) {
    if (!request.at) {
        return {};
    }
    const SerialSource& source = request.source;
    std::vector<std::string> args{"--serial-at", std::to_string(*request.at)};
    switch (source.kind) {
        case SerialSource::COUNTER:
            args.insert(args.end(), {"--serial-counter", source.path, "--serial-format",
                                     formatName(source.format), "--serial-step",
                                     std::to_string(source.step)});
            break;
        case SerialSource::LIST:
            args.insert(args.end(), {"--serial-list", source.path});
            break;
        case SerialSource::FIXED:
            args.insert(args.end(), {"--serial-value", source.text});
            if (!source.hexBytes) {
                args.insert(args.end(), {"--serial-format", formatName(source.format)});
            }
            break;
    }
    return args;
}

}  // namespace tarnlink
