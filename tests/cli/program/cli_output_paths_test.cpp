// Where a crypt may be written besides a regular file: devices, named pipes with and without a
// reader, the program's own standard output. Each ends with a result and a digest of the bytes
// that went out; none may hang, whether or not the output can be read back.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include "cli/report/sha256.h"
#include "sim/sim_target.h"
#include "tests/cli/cli_process.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

using test::CliProcess;
using test::CliResult;
using test::lastLine;
using test::TempDir;

// Long enough for a slow machine, short enough that a hang shows as a failure.
constexpr int RUN_LIMIT_MS = 30000;

std::string sha256Of(const std::vector<uint8_t>& bytes) {
    Sha256 sha;
    sha.update(bytes.data(), bytes.size());
    return sha.finishHex();
}

// What the test does with the named pipe `fifo` while the program runs.
enum class Pipe {
    NONE,        ///< no pipe
    READ_ALL,    ///< a reader that takes everything until the end
    NO_READER,   ///< nobody ever opens it for reading
    READER_GONE  ///< a reader that opens it and closes it again at once
};

struct OutputCase {
    const char* name;
    /// OUTPUT and options ("FIFO" is the named pipe); --force where only the new code would
    /// write without it, so that the old code meets the same path to its end.
    std::vector<std::string> output;
    Pipe pipe;
    bool pipeIsStdout;  ///< the named pipe is the program's standard output
    int exitCode;
    const char* detail;    ///< the last line of stderr ("FIFO" the pipe's path), or ""
    bool digestsTheCrypt;  ///< the JSON names the crypt's size and SHA-256
};

void PrintTo(const OutputCase& c, std::ostream* out) {
    *out << c.name;
}

class CliOutputPathTest : public ::testing::TestWithParam<OutputCase> {
  protected:
    TempDir m_dir;
};

TEST_P(CliOutputPathTest, EndsWithItsResultAndNeverReadsTheOutputBack) {
    const OutputCase& c = GetParam();
    sim::SimOptions options;
    const std::vector<uint8_t> flash = test::sampleImage(5 * 64);
    options.flashIn = m_dir.write("flash.bin", flash);
    sim::SimTarget target(options);
    ASSERT_TRUE(target.start());
    const std::vector<uint8_t> crypt = sim::SimTarget::encrypt(target.flash());

    const std::string fifo = m_dir.file("fifo");
    if (c.pipe != Pipe::NONE) {
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    }
    std::vector<std::string> args{"crypt"};
    for (const std::string& word : c.output) {
        args.push_back(word == "FIFO" ? fifo : word);
    }
    args.insert(args.end(), {"--port", target.portPath()});

    // The reader runs beside the program; it is done when the last writer has closed.
    std::future<std::vector<uint8_t>> received;
    if (c.pipe == Pipe::READ_ALL || c.pipe == Pipe::READER_GONE) {
        const bool readAll = c.pipe == Pipe::READ_ALL;
        received = std::async(std::launch::async, [fifo, readAll] {
            std::vector<uint8_t> bytes;
            const int fd = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
            uint8_t chunk[4096];
            ssize_t got = 0;
            while (readAll && fd >= 0 && (got = ::read(fd, chunk, sizeof chunk)) > 0) {
                bytes.insert(bytes.end(), chunk, chunk + got);
            }
            if (fd >= 0) {
                ::close(fd);
            }
            return bytes;
        });
    }
    CliProcess process(args, {}, {}, c.pipeIsStdout ? fifo : std::string());
    const CliResult result = process.wait(RUN_LIMIT_MS);

    EXPECT_EQ(result.signal, 0) << "ended by a signal";
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    if (*c.detail != '\0') {
        std::string detail = c.detail;
        if (const size_t at = detail.find("FIFO"); at != std::string::npos) {
            detail.replace(at, 4, fifo);
        }
        EXPECT_EQ(lastLine(result.err), detail);
    }
    if (c.pipe == Pipe::READ_ALL || c.pipe == Pipe::READER_GONE) {
        // A reader still waiting in its open (the program never opened the pipe) is let go.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (c.pipe == Pipe::READ_ALL) {
        ASSERT_EQ(received.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(received.get(), crypt);
    }
    if (c.digestsTheCrypt) {
        const auto report = nlohmann::json::parse(result.out);
        EXPECT_EQ(report["bytes"], crypt.size());
        EXPECT_EQ(report["sha256"], sha256Of(crypt));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, CliOutputPathTest,
    ::testing::Values(
        OutputCase{"DevNull", {"/dev/null", "--json"}, Pipe::NONE, false, 0, "", true},
        OutputCase{"DevFull",
                   {"/dev/full", "--json", "--force"},
                   Pipe::NONE,
                   false,
                   1,
                   "/dev/full: writing failed: No space left on device",
                   false},
        OutputCase{"FifoWithAReader", {"FIFO", "--json"}, Pipe::READ_ALL, false, 0, "", true},
        OutputCase{"FifoWithoutAReader",
                   {"FIFO", "--json"},
                   Pipe::NO_READER,
                   false,
                   4,
                   "FIFO: no program reads from the named pipe",
                   false},
        OutputCase{
            "DevStdoutIntoAPipe", {"/dev/stdout", "--force"}, Pipe::READ_ALL, true, 0, "", false},
        OutputCase{"DashIntoAPipe", {"-"}, Pipe::READ_ALL, true, 0, "", false},
        OutputCase{"DashWhoseReaderWentAway",
                   {"-"},
                   Pipe::READER_GONE,
                   true,
                   1,
                   "standard output: writing failed: Broken pipe",
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnlink
