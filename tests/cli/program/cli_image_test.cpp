// tarnlink-cli with firmware files as toolchains write them, against the simulated target:
// each format flashes its flat image, a broken file reaches no board, verify writes nothing,
// and images from pipes, FIFOs and endless devices end as they should.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "cli/report/sha256.h"
#include "protocol/frame.h"
#include "sim/sim_target.h"
#include "tests/cli/cli_process.h"
#include "tests/image/image_records.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

using test::Bytes;
using test::CliProcess;
using test::CliResult;
using test::lines;
using test::padded;
using test::runCli;
using test::sampleImage;
using test::TempDir;

std::unique_ptr<sim::SimTarget> startSim(sim::SimOptions options = {}) {
    auto target = std::make_unique<sim::SimTarget>(std::move(options));
    EXPECT_TRUE(target->start());
    return target;
}

std::string sha256Of(const Bytes& bytes) {
    Sha256 digest;
    digest.update(bytes.data(), bytes.size());
    return digest.finishHex();
}

// The command bytes of the frames the host sent.
std::vector<uint8_t> hostCommands(const sim::SimTarget& target) {
    std::vector<uint8_t> commands;
    for (const sim::LoggedFrame& frame : target.frames()) {
        if (frame.fromHost && frame.bytes.size() > 3) {
            commands.push_back(frame.bytes[3]);
        }
    }
    return commands;
}

bool sent(const std::vector<uint8_t>& commands, uint8_t command) {
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Intel HEX of `data` from address 0, 16 bytes a line.
std::string hexText(const Bytes& data) {
    std::string text;
    for (size_t at = 0; at < data.size(); at += 16) {
        const size_t n = std::min<size_t>(16, data.size() - at);
        text += test::ihexData(static_cast<uint16_t>(at),
                               Bytes(data.begin() + at, data.begin() + at + n));
    }
    return text + test::IHEX_END;
}

// S3 records of `data` from `address`, 32 bytes a line, and the S7 end.
std::string srecText(const Bytes& data, uint32_t address) {
    std::string text;
    for (size_t at = 0; at < data.size(); at += 32) {
        const size_t n = std::min<size_t>(32, data.size() - at);
        text += test::srecRecord(3, static_cast<uint32_t>(address + at),
                                 Bytes(data.begin() + at, data.begin() + at + n));
    }
    return text + test::srecRecord(7, 0, {});
}

struct FormatCase {
    const char* name;
    const char* fileName;
    Bytes file;
    std::vector<std::string> options;
    Bytes flat;  ///< the image the flash must hold (before the padding)
    const char* format;
    const char* base;
};

const Bytes PART_A = sampleImage(200, 3);
const Bytes PART_B = sampleImage(90, 4);

std::vector<FormatCase> formatCases() {
    std::vector<FormatCase> cases;
    cases.push_back(
        {"IntelHex", "fw.hex", test::bytesOf(hexText(PART_A)), {}, PART_A, "ihex", "0x00000000"});
    // Two records at 0x08000000 and 0x08000100 with a gap of erased flash between them.
    const std::string srec =
        test::srecRecord(0, 0, test::bytesOf("fw")) +
        test::srecRecord(3, 0x08000000, Bytes(PART_A.begin(), PART_A.begin() + 32)) +
        test::srecRecord(3, 0x08000100, PART_B) + test::srecRecord(7, 0, {});
    cases.push_back(
        {"SRecordWithBase",
         "fw.s37",
         test::bytesOf(srec),
         {"--base", "0x08000000"},
         concat({Bytes(PART_A.begin(), PART_A.begin() + 32), Bytes(0x100 - 32, 0xFF), PART_B}),
         "srec",
         "0x08000000"});
    // A little-endian 32-bit ELF: two segments placed by their physical addresses, the
    // first at 0x40 above 0, and a bss segment that has nothing in the file.
    test::ElfSegment text{1, 0x40, 0x20000040, PART_A};
    test::ElfSegment data{1, 0x200, 0x20001000, PART_B};
    test::ElfSegment bss{1, 0x400, 0x20002000, {}, 0x80};
    cases.push_back(
        {"ElfNamedBin",
         "fw.bin",
         test::elfFile(false, false, {text, data, bss}),
         {},
         concat({Bytes(0x40, 0xFF), PART_A, Bytes(0x200 - 0x40 - PART_A.size(), 0xFF), PART_B}),
         "elf",
         "0x00000000"});
    return cases;
}

class CliImageFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(CliImageFormatTest, FlashesTheFlatImageAndReportsBothDigests) {
    const FormatCase& c = GetParam();
    TempDir dir;
    auto target = startSim();
    const std::string path = dir.write(c.fileName, c.file);
    std::vector<std::string> args{"load", path, "--port", target->portPath(), "--json"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CliResult load = runCli(args);
    ASSERT_EQ(load.exitCode, 0) << load.err;
    EXPECT_EQ(target->flash(), padded(c.flat));

    const nlohmann::json j = nlohmann::json::parse(load.out);
    EXPECT_EQ(j["format"], c.format);
    EXPECT_EQ(j["base"], c.base);
    EXPECT_EQ(j["bytes"], c.file.size());
    EXPECT_EQ(j["sha256"], sha256Of(c.file));
    EXPECT_EQ(j["image_sha256"], sha256Of(c.flat));
    EXPECT_EQ(j["blocks"], (c.flat.size() + 63) / 64);

    // The same file verifies against what it flashed.
    args[0] = "verify";
    const CliResult verify = runCli(args);
    EXPECT_EQ(verify.exitCode, 0) << verify.err;
    EXPECT_EQ(nlohmann::json::parse(verify.out)["command"], "verify");
}

INSTANTIATE_TEST_SUITE_P(Formats, CliImageFormatTest, ::testing::ValuesIn(formatCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliImageTest, ABrokenHexFileReachesNoBoard) {
    TempDir dir;
    auto target = startSim();
    std::string second = test::ihexData(0x10, Bytes(PART_A.begin() + 16, PART_A.begin() + 32));
    const std::string rightSum = second.substr(second.size() - 3, 2);
    second.replace(second.size() - 3, 2, "00");
    const std::string text =
        test::ihexData(0, Bytes(PART_A.begin(), PART_A.begin() + 16)) + second + test::IHEX_END;
    const std::string path = dir.write("bad.hex", test::bytesOf(text));
    const std::string record = dir.file("line.csv");

    const CliResult load =
        runCli({"load", path, "--port", target->portPath(), "--json", "--record", record});
    EXPECT_EQ(load.exitCode, 3) << load.err;
    const std::string detail = path + ": line 2: checksum is 0x00, the line's bytes need 0x" +
                               rightSum + " (to flash the file as it is, give --format bin)";
    EXPECT_EQ(lines(load.err), (std::vector<std::string>{"Bad image file", detail}));
    const nlohmann::json j = nlohmann::json::parse(load.out);
    EXPECT_EQ(j["name"], "BAD_IMAGE_FILE");
    EXPECT_EQ(j["detail"], detail);
    EXPECT_EQ(j["format"], "ihex");
    EXPECT_TRUE(hostCommands(*target).empty()) << "the port was not even opened";
    const std::vector<uint8_t> raw = test::readFile(record);
    EXPECT_NE(std::string(raw.begin(), raw.end()).find(",load," + path + ",,BAD_IMAGE_FILE,"),
              std::string::npos);
}

TEST(CliImageTest, AMissingFileHasNoFormatYet) {
    TempDir dir;
    auto target = startSim();
    const std::string path = dir.file("missing.hex");
    const CliResult load = runCli({"verify", path, "--port", target->portPath(), "--json"});
    EXPECT_EQ(load.exitCode, 4) << load.err;
    EXPECT_EQ(test::lastLine(load.err), path + ": No such file or directory");
    const nlohmann::json j = nlohmann::json::parse(load.out);
    EXPECT_EQ(j["command"], "verify");
    for (const char* key : {"format", "sha256", "image_sha256", "base"}) {
        EXPECT_TRUE(j[key].is_null()) << key;
    }
    EXPECT_TRUE(hostCommands(*target).empty());
}

// 40 blocks; the flash differs from the image in blocks 17, 20 and 39.
class CliVerifyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_image = sampleImage(40 * 64 - 10, 9);
        m_path = m_dir.write("fw.hex", test::bytesOf(hexText(m_image)));
    }
    std::unique_ptr<sim::SimTarget> simWithFlash(const Bytes& flash) {
        sim::SimOptions options;
        options.flashIn = m_dir.write("flash-in.bin", flash);
        return startSim(options);
    }

    TempDir m_dir;
    Bytes m_image;
    std::string m_path;
};

TEST_F(CliVerifyTest, AnIdenticalFlashPassesAndNothingIsWrittenOrEnabled) {
    auto target = simWithFlash(padded(m_image));
    const CliResult verify = runCli({"verify", m_path, "--port", target->portPath()});
    EXPECT_EQ(verify.exitCode, 0) << verify.err;
    EXPECT_EQ(test::lastLine(verify.err), "All 40 blocks match the image");
    const std::vector<uint8_t> commands = hostCommands(*target);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), CMD_READ), 40);
    EXPECT_FALSE(sent(commands, CMD_WRITE));
    EXPECT_FALSE(sent(commands, CMD_ENABLE));
}

TEST_F(CliVerifyTest, AChangedFlashExits7NamingTheFirstBlockAndWritesNothing) {
    Bytes flash = padded(m_image);
    flash[17 * 64 + 5] ^= 0x01;
    flash[20 * 64] ^= 0x80;
    flash[39 * 64 + 63] = 0x00;  // a padding byte of the last block
    auto target = simWithFlash(flash);
    const std::string record = m_dir.file("line.csv");
    const CliResult verify =
        runCli({"verify", m_path, "--port", target->portPath(), "--json", "--record", record});
    EXPECT_EQ(verify.exitCode, 7) << verify.err;
    const std::string detail = "Block 17 (target address 0x0110) differs; 3 of 40 blocks differ";
    EXPECT_EQ(test::lastLine(verify.err), detail);
    const nlohmann::json j = nlohmann::json::parse(verify.out);
    EXPECT_EQ(j["command"], "verify");
    EXPECT_EQ(j["name"], "VERIFY_FAILED");
    EXPECT_EQ(j["detail"], detail);
    const std::vector<uint8_t> commands = hostCommands(*target);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), CMD_READ), 40) << "every block read";
    EXPECT_FALSE(sent(commands, CMD_WRITE));
    EXPECT_FALSE(sent(commands, CMD_ENABLE));
    EXPECT_EQ(target->flash(), flash);
    const std::vector<uint8_t> raw = test::readFile(record);
    const std::vector<std::string> rows = lines(std::string(raw.begin(), raw.end()));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NE(rows[1].find(",verify," + m_path + ","), std::string::npos) << rows[1];
    EXPECT_NE(rows[1].find(",VERIFY_FAILED,"), std::string::npos) << rows[1];
    EXPECT_TRUE(rows[1].ends_with(",ihex," + sha256Of(m_image) + ",0x00000000,")) << rows[1];
}

TEST_F(CliVerifyTest, AStationVerifiesEveryBoardWithTheSameFormatAndBase) {
    // The image lies at 0x08000000: a child that did not get --base would refuse it.
    const std::string path = m_dir.write("fw.s37", test::bytesOf(srecText(m_image, 0x08000000)));
    auto good = simWithFlash(padded(m_image));
    Bytes changed = padded(m_image);
    changed[2 * 64] ^= 0x10;
    sim::SimOptions other;
    other.flashIn = m_dir.write("flash-changed.bin", changed);
    auto bad = startSim(other);
    const std::string record = m_dir.file("station.csv");
    const CliResult station =
        runCli({"verify", path, "--base", "0x08000000", "--port", good->portPath(), "--port",
                bad->portPath(), "--record", record, "--quiet"});
    EXPECT_EQ(station.exitCode, 7) << station.err;
    const std::vector<uint8_t> raw = test::readFile(record);
    const std::vector<std::string> rows = lines(std::string(raw.begin(), raw.end()));
    ASSERT_EQ(rows.size(), 3u);
    for (size_t i = 1; i < rows.size(); ++i) {
        EXPECT_NE(rows[i].find(",verify," + path + ","), std::string::npos) << rows[i];
        EXPECT_TRUE(rows[i].ends_with(",srec," + sha256Of(m_image) + ",0x08000000,")) << rows[i];
    }
    EXPECT_FALSE(sent(hostCommands(*good), CMD_WRITE));
    EXPECT_FALSE(sent(hostCommands(*bad), CMD_WRITE));
    EXPECT_NE(station.err.find("Block 2 (target address 0x0020) differs; 1 of 40 blocks differ"),
              std::string::npos)
        << station.err;
}

// Images that are no regular file.
TEST(CliImageSourceTest, AnEndlessDeviceIsRefusedAtOnceBeforeThePort) {
    auto target = startSim();
    for (const char* command : {"load", "verify"}) {
        const CliResult r = runCli({command, "/dev/zero", "--port", target->portPath()}, 20000);
        EXPECT_EQ(r.exitCode, 3) << r.err;
        EXPECT_LT(r.seconds, 5.0);
        EXPECT_EQ(test::lastLine(r.err),
                  "/dev/zero: more than 262,140 bytes; an image holds at most 262,140");
    }
    EXPECT_TRUE(hostCommands(*target).empty());
}

// Writes `bytes` into the FIFO at `path` once a reader opens it.
std::thread fifoWriter(const std::string& path, const std::string& bytes) {
    return std::thread([path, bytes] {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) {
            ADD_FAILURE() << "cannot open the FIFO";
            return;
        }
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        ::close(fd);
    });
}

TEST(CliImageSourceTest, AFifoWithAWriterIsReadLikeAFile) {
    TempDir dir;
    auto target = startSim();
    const std::string fifo = dir.file("fw.hex");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer = fifoWriter(fifo, hexText(PART_B));
    const CliResult load = runCli({"load", fifo, "--port", target->portPath(), "--json"});
    writer.join();
    EXPECT_EQ(load.exitCode, 0) << load.err;
    EXPECT_EQ(target->flash(), padded(PART_B));
    EXPECT_EQ(nlohmann::json::parse(load.out)["format"], "ihex");
}

TEST(CliImageSourceTest, StandardInputFeedsOneBoardAndNoStation) {
    TempDir dir;
    auto target = startSim();
    auto second = startSim();
    const std::string pipe = dir.file("stdin.fifo");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    {
        // "-" without --format: the text is told from a raw image by its first bytes.
        std::thread writer = fifoWriter(pipe, hexText(PART_A));
        CliProcess cli({"load", "-", "--port", target->portPath(), "--json"}, {}, {}, {}, pipe);
        writer.join();
        const CliResult load = cli.wait(60000);
        EXPECT_EQ(load.exitCode, 0) << load.err;
        EXPECT_EQ(target->flash(), padded(PART_A));
        const nlohmann::json j = nlohmann::json::parse(load.out);
        EXPECT_EQ(j["image"], "-");
        EXPECT_EQ(j["format"], "ihex");
    }
    // A station refuses it before it reads a byte: the writer's open never finds a reader.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"load", "-", "--port", target->portPath(), "--port",
                                   second->portPath()},
          std::vector<std::string>{"verify", "-", "--port", target->portPath(), "--loop"}}) {
        const int keepOpen = ::open(pipe.c_str(), O_RDWR | O_CLOEXEC);  // no wait for a writer
        ASSERT_GE(keepOpen, 0);
        CliProcess cli(args, {}, {}, {}, pipe);
        const CliResult r = cli.wait(20000);
        ::close(keepOpen);
        EXPECT_EQ(r.exitCode, 64) << r.err;
        EXPECT_NE(r.err.find("standard input can be read only once, and every board of a station "
                             "reads the image: give a regular file"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_FALSE(sent(hostCommands(*second), CMD_HANDSHAKE));
}

}  // namespace
}  // namespace tarnlink
