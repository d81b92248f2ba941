#include "cli/serial/serial_source.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <sstream>

#include "cli/system/locked_file.h"
#include "platform/utf8_file.h"

namespace tarnlink {

namespace {

constexpr uint64_t LARGEST = std::numeric_limits<uint64_t>::max();

// "1234\n" as the number; empty for anything else.
std::optional<uint64_t> parseCounter(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    const char* end = text.data() + text.find_last_not_of(" \t\r\n") + 1;
    uint64_t value = 0;
    const auto [last, problem] = std::from_chars(text.data() + first, end, value);
    if (problem != std::errc() || last != end) {
        return std::nullopt;
    }
    return value;
}

std::string counterText(uint64_t value) {
    return std::to_string(value) + "\n";
}

std::string counterName(const SerialSource& source) {
    return "the counter " + source.path;
}

// The counter's value `index` boards on from `next`, or why there is none.
std::optional<SerialValue> counterValue(const SerialSource& source, uint64_t next, size_t index,
                                        std::string* error) {
    if (index > (LARGEST - next) / source.step) {
        *error = counterName(source) + " has no values left";
        return std::nullopt;
    }
    return encodeSerial(next + index * source.step, source.format, error);
}

// Reads `path` whole under its lock (Windows refuses to read a region another process has
// locked). False with `*error` set.
bool readLocked(const std::string& path, std::string& text, std::string* error) {
    return changeLockedFile(
        path, false,
        [&text](std::string& whole, std::string*) {
            text = whole;
            return true;
        },
        error);
}

std::optional<SerialValue> takeFromCounter(const SerialSource& source, std::string* error) {
    std::optional<SerialValue> taken;
    bool refused = false;  // by what the counter holds, not by the system
    const bool changed = changeLockedFile(
        source.path, false,
        [&](std::string& text, std::string* why) {
            refused = true;
            const std::optional<uint64_t> next = parseCounter(text);
            if (!next) {
                *why = counterName(source) + " does not hold a number";
                return false;
            }
            // The value after this one must be one the counter can hold: a 64-bit counter
            // gives up its very last value rather than wrap.
            if (source.step > LARGEST - *next) {
                *why = counterName(source) + " has no values left";
                return false;
            }
            taken = counterValue(source, *next, 0, why);
            if (taken) {
                text = counterText(*next + source.step);
            }
            return taken.has_value();
        },
        error);
    if (!changed) {
        if (!refused) {
            *error = counterName(source) + ": " + *error;
        }
        return std::nullopt;
    }
    return taken;
}

struct ListLine {
    size_t number = 0;  // counted from 1
    std::string text;
};

std::optional<std::vector<ListLine>> readList(const std::string& path, std::string* error) {
    std::FILE* file = openUtf8File(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "the list " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        *error = "the list " + path + " cannot be read";
        return std::nullopt;
    }
    std::vector<ListLine> lines;
    std::istringstream stream(text);
    std::string line;
    for (size_t number = 1; std::getline(stream, line); ++number) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first != std::string::npos && line[first] != '#') {
            lines.push_back({number, line});
        }
    }
    return lines;
}

// The used line numbers. A last line without its line end was cut short by a process
// killed in the middle of its write; its value was never handed out.
std::set<size_t> parseUsedMarks(std::string& text) {
    text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    std::set<size_t> used;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t number = 0;
        const auto [end, problem] = std::from_chars(line.data(), line.data() + line.size(), number);
        if (problem == std::errc() && number > 0) {
            used.insert(number);
        }
    }
    return used;
}

struct ListPick {
    size_t number = 0;
    SerialValue value;
};

// The list's value `skip` unused lines after the first unused one, or why there is none.
// Every value has as many bytes as the list's first: a line typed short is not flashed.
std::optional<ListPick> listValue(const SerialSource& source, const std::vector<ListLine>& lines,
                                  const std::set<size_t>& used, size_t skip, std::string* error) {
    std::optional<size_t> length;
    for (const ListLine& line : lines) {
        std::string problem;
        const std::optional<SerialValue> value = parseHexBytes(line.text, &problem);
        if (!length && value) {
            length = value->bytes.size();
        }
        if (used.count(line.number) != 0 || skip-- > 0) {
            continue;
        }
        const std::string where = source.path + " line " + std::to_string(line.number) + ": ";
        if (!value) {
            *error = where + problem;
            return std::nullopt;
        }
        if (value->bytes.size() != *length) {
            *error = where + std::to_string(value->bytes.size()) +
                     " bytes, but the list's values have " + std::to_string(*length);
            return std::nullopt;
        }
        return ListPick{line.number, *value};
    }
    *error = "the list " + source.path + " is used up (" + std::to_string(lines.size()) +
             (lines.size() == 1 ? " value)" : " values)");
    return std::nullopt;
}

std::optional<SerialValue> takeFromList(const SerialSource& source, std::string* error) {
    const std::optional<std::vector<ListLine>> lines = readList(source.path, error);
    if (!lines) {
        return std::nullopt;
    }
    std::optional<SerialValue> taken;
    bool refused = false;  // by what the list holds, not by the system
    const std::string marks = usedMarksPath(source.path);
    const bool changed = changeLockedFile(
        marks, true,
        [&](std::string& text, std::string* why) {
            const std::set<size_t> used = parseUsedMarks(text);
            const std::optional<ListPick> pick = listValue(source, *lines, used, 0, why);
            refused = !pick;
            if (pick) {
                taken = pick->value;
                text += std::to_string(pick->number) + "\n";
            }
            return pick.has_value();
        },
        error);
    if (!changed) {
        if (!refused) {
            *error = marks + ": " + *error;
        }
        return std::nullopt;
    }
    return taken;
}

std::optional<SerialValue> fixedValue(const SerialSource& source, std::string* error) {
    return source.hexBytes ? parseHexBytes(source.text, error)
                           : parseSerialText(source.text, source.format, error);
}

bool exists(const std::string& path) {
    std::FILE* file = openUtf8File(path.c_str(), "rb");
    if (file != nullptr) {
        std::fclose(file);
    }
    return file != nullptr || errno != ENOENT;
}

std::string missingCounter(const SerialSource& source) {
    return counterName(source) + " does not exist (--serial-start N creates it)";
}

std::string prepareCounter(const SerialSource& source) {
    if (!source.start && !exists(source.path)) {
        return missingCounter(source);
    }
    std::string error;
    bool refused = false;
    const bool ready = changeLockedFile(
        source.path, source.start.has_value(),
        [&](std::string& text, std::string* why) {
            if (text.empty() && source.start) {
                text = counterText(*source.start);  // created just now
                return true;
            }
            refused = true;
            const std::optional<uint64_t> next = parseCounter(text);
            if (!next) {
                *why = counterName(source) + " does not hold a number";
                return false;
            }
            if (source.start && *next != *source.start) {
                *why = counterName(source) + " holds " + std::to_string(*next) +
                       ", not the --serial-start " + std::to_string(*source.start) +
                       " (leave --serial-start out to go on from it)";
                return false;
            }
            return true;
        },
        &error);
    if (ready) {
        return "";
    }
    return refused ? error : counterName(source) + ": " + error;
}

}  // namespace

std::string usedMarksPath(const std::string& listPath) {
    return listPath + ".used";
}

std::string prepareSerialSource(const SerialSource& source) {
    std::string error;
    switch (source.kind) {
        case SerialSource::COUNTER:
            return prepareCounter(source);
        case SerialSource::LIST:
            return readList(source.path, &error) ? "" : error;
        case SerialSource::FIXED:
            return fixedValue(source, &error) ? "" : error;
    }
    return "";
}

std::optional<SerialValue> takeSerialValue(const SerialSource& source, std::string* error) {
    switch (source.kind) {
        case SerialSource::COUNTER:
            return takeFromCounter(source, error);
        case SerialSource::LIST:
            return takeFromList(source, error);
        case SerialSource::FIXED:
            return fixedValue(source, error);
    }
    return std::nullopt;
}

std::vector<SerialPeek> peekSerialValues(const SerialSource& source, size_t count) {
    std::vector<SerialPeek> peeks;
    for (size_t i = 0; i < count; ++i) {
        SerialPeek& peek = peeks.emplace_back();
        if (source.kind == SerialSource::FIXED) {
            peek.value = fixedValue(source, &peek.error);
        } else if (source.kind == SerialSource::COUNTER) {
            // Read again for each board: simple, and a dry run looks at a handful.
            std::string text;
            std::optional<uint64_t> next = source.start;
            if (exists(source.path)) {
                next = readLocked(source.path, text, &peek.error) ? parseCounter(text)
                                                                   : std::nullopt;
                if (!next && peek.error.empty()) {
                    peek.error = counterName(source) + " does not hold a number";
                }
            } else if (!next) {
                peek.error = missingCounter(source);
            }
            if (next) {
                peek.value = counterValue(source, *next, i, &peek.error);
            }
        } else {
            std::string marks;
            const std::optional<std::vector<ListLine>> lines = readList(source.path, &peek.error);
            if (lines && (!exists(usedMarksPath(source.path)) ||
                          readLocked(usedMarksPath(source.path), marks, &peek.error))) {
                if (const auto pick =
                        listValue(source, *lines, parseUsedMarks(marks), i, &peek.error)) {
                    peek.value = pick->value;
                }
            }
        }
        if (!peek.value) {
            break;
        }
    }
    return peeks;
}

}  // namespace tarnlink
