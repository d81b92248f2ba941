#include "cli/program/cli_options.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tarnlink {
namespace {

struct Parsed {
    int status;
    CliOptions options;
    std::string out;
    std::string err;
};

Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "tarnlink-cli");
    Parsed p;
    std::ostringstream out, err;
    p.status = parseCommandLine(args, p.options, out, err);
    p.out = out.str();
    p.err = err.str();
    return p;
}

TEST(CliOptionsTest, LoadWithEveryOption) {
    Parsed p = parse({"load", "fw.bin", "--port", "/dev/ttyUSB0", "--no-reset-verify", "--json",
                      "--quiet", "--trace", "t.txt"});
    ASSERT_EQ(p.status, PARSE_RUN) << p.err;
    EXPECT_EQ(p.options.command, CliCommand::LOAD);
    EXPECT_EQ(p.options.file, "fw.bin");
    EXPECT_EQ(p.options.port, "/dev/ttyUSB0");
    EXPECT_EQ(p.options.portPath, "/dev/ttyUSB0");
    EXPECT_TRUE(p.options.noResetVerify);
    EXPECT_TRUE(p.options.json);
    EXPECT_TRUE(p.options.quiet);
    EXPECT_EQ(p.options.tracePath, "t.txt");
    EXPECT_FALSE(p.options.force);
}

struct ImageOptionCase {
    const char* name;
    std::vector<std::string> args;
    CliCommand command;
    ImageFormat format;
    std::optional<uint64_t> base;
};

class CliImageOptionTest : public ::testing::TestWithParam<ImageOptionCase> {};

TEST_P(CliImageOptionTest, FormatAndBaseReachTheImageRequest) {
    const ImageOptionCase& c = GetParam();
    Parsed p = parse(c.args);
    ASSERT_EQ(p.status, PARSE_RUN) << p.err;
    EXPECT_EQ(p.options.command, c.command);
    EXPECT_EQ(p.options.image.format, c.format);
    EXPECT_EQ(p.options.image.base, c.base);
}

INSTANTIATE_TEST_SUITE_P(
    Images, CliImageOptionTest,
    ::testing::Values(ImageOptionCase{"Defaults",
                                      {"load", "fw.hex", "-p", "3"},
                                      CliCommand::LOAD,
                                      ImageFormat::AUTO,
                                      std::nullopt},
                      ImageOptionCase{"HexBase",
                                      {"load", "fw.s19", "-p", "3", "--base", "0x08000000"},
                                      CliCommand::LOAD,
                                      ImageFormat::AUTO,
                                      0x08000000},
                      ImageOptionCase{"UpperHexBase",
                                      {"load", "fw", "-p", "3", "--base=0XfF00"},
                                      CliCommand::LOAD,
                                      ImageFormat::AUTO,
                                      0xFF00},
                      ImageOptionCase{"DecimalBase",
                                      {"verify", "fw.elf", "-p", "3", "--base", "4096"},
                                      CliCommand::VERIFY,
                                      ImageFormat::AUTO,
                                      4096},
                      ImageOptionCase{
                          "LargestBase",
                          {"verify", "fw.elf", "-p", "3", "--base", "0xFFFFFFFFFFFFFFFF"},
                          CliCommand::VERIFY,
                          ImageFormat::AUTO,
                          UINT64_MAX},
                      ImageOptionCase{"VerifyRaw",
                                      {"verify", "fw.hex", "-p", "3", "--format", "bin"},
                                      CliCommand::VERIFY,
                                      ImageFormat::BIN,
                                      std::nullopt},
                      ImageOptionCase{"Ihex",
                                      {"load", "fw", "-p", "3", "--format=ihex"},
                                      CliCommand::LOAD,
                                      ImageFormat::IHEX,
                                      std::nullopt},
                      ImageOptionCase{"Srec",
                                      {"load", "fw", "-p", "3", "--format", "srec"},
                                      CliCommand::LOAD,
                                      ImageFormat::SREC,
                                      std::nullopt},
                      ImageOptionCase{"ElfStdin",
                                      {"load", "-", "-p", "3", "--format", "elf"},
                                      CliCommand::LOAD,
                                      ImageFormat::ELF,
                                      std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CliOptionsTest, BaseThatIsNoAddressNamesItself) {
    Parsed p = parse({"load", "fw.hex", "-p", "3", "--base", "0x8000000g"});
    EXPECT_EQ(p.status, 64);
    EXPECT_NE(p.err.find("--base '0x8000000g' is no address"), std::string::npos) << p.err;
}

TEST(CliOptionsTest, CryptWithComNumberAndForce) {
    Parsed p = parse({"crypt", "--port=COM3", "out.bin", "-f"});
    ASSERT_EQ(p.status, PARSE_RUN) << p.err;
    EXPECT_EQ(p.options.command, CliCommand::CRYPT);
    EXPECT_EQ(p.options.file, "out.bin");
    EXPECT_EQ(p.options.portPath, "/dev/ttyS2");
    EXPECT_TRUE(p.options.force);
    EXPECT_FALSE(p.options.json);
    EXPECT_FALSE(p.options.noResetVerify);
}

TEST(CliOptionsTest, Ports) {
    Parsed p = parse({"ports"});
    ASSERT_EQ(p.status, PARSE_RUN) << p.err;
    EXPECT_EQ(p.options.command, CliCommand::PORTS);
    EXPECT_FALSE(p.options.json);
    EXPECT_TRUE(parse({"ports", "--json"}).options.json);
}

TEST(CliOptionsTest, StationOptions) {
    Parsed p = parse({"load", "fw.bin", "--port", "/dev/ttyUSB0", "-p", "COM4", "--port=3",
                      "--wait", "2.5", "--loop", "--events", "--record", "line.csv", "-v"});
    ASSERT_EQ(p.status, PARSE_RUN) << p.err;
    EXPECT_EQ(p.options.ports, (std::vector<std::string>{"/dev/ttyUSB0", "COM4", "3"}));
    EXPECT_EQ(p.options.port, "");  // several ports: the station chooses
    EXPECT_DOUBLE_EQ(p.options.waitSeconds, 2.5);
    EXPECT_TRUE(p.options.loop);
    EXPECT_TRUE(p.options.events);
    EXPECT_TRUE(p.options.verbose);
    EXPECT_EQ(p.options.recordPath, "line.csv");
    EXPECT_FALSE(p.options.stationChild);

    Parsed none = parse({"crypt", "out.bin"});  // the port may come from $TARNLINK_PORT
    ASSERT_EQ(none.status, PARSE_RUN) << none.err;
    EXPECT_TRUE(none.options.ports.empty());
    EXPECT_LT(none.options.waitSeconds, 0);

    Parsed all = parse({"load", "fw.bin", "--port", "all"});
    ASSERT_EQ(all.status, PARSE_RUN) << all.err;
    EXPECT_EQ(all.options.ports, (std::vector<std::string>{"all"}));
    EXPECT_EQ(all.options.portPath, "");
}

class CliUsageErrorTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(CliUsageErrorTest, ExitsWithOneLineHint) {
    Parsed p = parse(GetParam());
    EXPECT_EQ(p.status, 64);
    EXPECT_EQ(p.out, "");
    ASSERT_FALSE(p.err.empty());
    EXPECT_EQ(p.err.find('\n'), p.err.size() - 1) << p.err;  // exactly one line
    EXPECT_EQ(p.err.rfind("tarnlink-cli: ", 0), 0u) << p.err;
    EXPECT_NE(p.err.find("--help"), std::string::npos) << p.err;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, CliUsageErrorTest,
    ::testing::Values(std::vector<std::string>{},              // no command
                      std::vector<std::string>{"flash", "x"},  // unknown command
                      std::vector<std::string>{"load", "fw.bin", "-p", "all", "-p", "3"},
                      std::vector<std::string>{"load", "fw.bin", "-p", "3", "-p", "auto"},
                      std::vector<std::string>{"load", "fw.bin", "-p", "3", "--wait", "-1"},
                      std::vector<std::string>{"load", "fw.bin", "-p", "3", "--wait", "x"},
                      std::vector<std::string>{"load", "--port", "3"},       // no IMAGE
                      std::vector<std::string>{"load", "fw.bin", "--port"},  // --port without value
                      std::vector<std::string>{"load", "fw.bin", "-p", "3", "--bogus"},
                      std::vector<std::string>{"load", "fw.bin", "-p", "COM0"},  // names no port
                      std::vector<std::string>{"crypt", "out.bin", "-p", "3", "--no-reset-verify"},
                      std::vector<std::string>{"load", "a", "b", "-p", "3"},  // two images
                      std::vector<std::string>{"load", "", "-p", "3"},
                      std::vector<std::string>{"load", "f", "-p", "3", "--format", "hex"},
                      std::vector<std::string>{"load", "f", "-p", "3", "--base", "-1"},
                      std::vector<std::string>{"load", "f", "-p", "3", "--base", "0x"},
                      std::vector<std::string>{"load", "f", "-p", "3", "--base", "08k"},
                      std::vector<std::string>{"load", "f", "-p", "3", "--base",
                                               "0x10000000000000000"},  // past 64 bits
                      std::vector<std::string>{"load", "f", "-p", "3", "--base",
                                               "18446744073709551616"},
                      std::vector<std::string>{"crypt", "out.bin", "-p", "3", "--base", "0"},
                      std::vector<std::string>{"verify", "-p", "3"},  // no IMAGE
                      std::vector<std::string>{"verify", "f", "-p", "3", "--force"},
                      // standard output holds one board's crypt and nothing else
                      std::vector<std::string>{"crypt", "-", "-p", "3", "-p", "4"},
                      std::vector<std::string>{"crypt", "-", "-p", "all"},
                      std::vector<std::string>{"crypt", "-", "-p", "3", "--loop"},
                      std::vector<std::string>{"crypt", "-", "-p", "3", "--json"},
                      std::vector<std::string>{"crypt", "-", "-p", "3", "--events"},
                      // a board's own value: where, from what, and in which form
                      std::vector<std::string>{"load", "f", "-p", "3", "--serial-list", "l"},
                      std::vector<std::string>{"load", "f", "-p", "3", "--serial-at", "0x"},
                      std::vector<std::string>{"load", "f", "-p", "3", "--serial-at", "16"},
                      std::vector<std::string>{"load", "f", "-p", "3", "--serial-at", "16",
                                               "--serial-counter", "c"},  // no format
                      std::vector<std::string>{"load", "f", "-p", "3", "--serial-at", "16",
                                               "--serial-list", "l", "--serial-value", "01"},
                      std::vector<std::string>{"load", "f", "-p", "3", "--serial-at", "16",
                                               "--serial-list", "l", "--serial-format", "u16le"},
                      std::vector<std::string>{"load", "f", "-p", "3", "--serial-at", "16",
                                               "--serial-list", "l", "--serial-start", "1"},
                      std::vector<std::string>{"load", "f", "-p", "3", "--serial-at", "16",
                                               "--serial-counter", "c", "--serial-format",
                                               "u24le"},
                      std::vector<std::string>{"load", "f", "-p", "3", "--serial-at", "16",
                                               "--serial-counter", "c", "--serial-format",
                                               "u16le", "--serial-step", "0"},
                      std::vector<std::string>{"load", "f", "-p", "3", "--serial-at", "16",
                                               "--serial-value", "70000", "--serial-format",
                                               "u16le"},
                      std::vector<std::string>{"verify", "f", "-p", "3", "--serial-at", "16",
                                               "--serial-counter", "c", "--serial-format",
                                               "u16le"},
                      std::vector<std::string>{"crypt", "o", "-p", "3", "--serial-at", "16"},
                      std::vector<std::string>{"load", "f", "--dry-run", "0"},
                      std::vector<std::string>{"load", "f", "--dry-run", "x"}));

TEST(CliOptionsTest, SerialOptionsBecomeTheSourceTheStationsChildrenGetToo) {
    Parsed p = parse({"load", "f", "-p", "3", "-p", "4", "--serial-at", "0x7F00",
                      "--serial-format", "ascii:6", "--serial-counter", "next.txt",
                      "--serial-start", "100", "--serial-step", "2", "--dry-run"});
    ASSERT_EQ(p.status, PARSE_RUN) << p.err;
    EXPECT_EQ(p.options.serial.at, 0x7F00u);
    EXPECT_EQ(p.options.serial.source.start, 100u);
    EXPECT_EQ(p.options.dryRunBoards, 2u) << "one board a port";
    // No --serial-start for a child: the station has made or checked the counter.
    EXPECT_EQ(serialChildArguments(p.options.serial),
              (std::vector<std::string>{"--serial-at", "32512", "--serial-counter", "next.txt",
                                        "--serial-format", "ascii:6", "--serial-step", "2"}));
}

// A path that begins with a slash is a file on every system, also where CLI11 would
// otherwise read "/firmware" as a Windows-style option.
TEST(CliOptionsTest, SlashPathsAreFilesAndDashIsOneBoardsStandardOutput) {
    Parsed load = parse({"load", "/firmware/app.bin", "--port", "COM3"});
    EXPECT_EQ(load.status, PARSE_RUN) << load.err;
    EXPECT_EQ(load.options.file, "/firmware/app.bin");
    Parsed dash = parse({"crypt", "-", "--port", "COM3", "--record", "r.jsonl"});
    EXPECT_EQ(dash.status, PARSE_RUN) << dash.err;
    EXPECT_EQ(dash.options.file, STANDARD_OUTPUT_NAME);
}

TEST(CliOptionsTest, HelpShowsEveryOptionAndAnExample) {
    Parsed p = parse({"--help"});
    EXPECT_EQ(p.status, 0);
    for (const char* word : {"load",
                             "verify",
                             "--format",
                             "--base",
                             "ihex",
                             "0x08000000",
                             "crypt",
                             "ports",
                             "--port",
                             "--no-reset-verify",
                             "--force",
                             "--quiet",
                             "--json",
                             "--trace",
                             "--version",
                             "IMAGE",
                             "OUTPUT",
                             "--events",
                             "--record",
                             "--wait",
                             "--loop",
                             "--verbose",
                             "TARNLINK_PORT",
                             "crypt-ttyUSB0.bin",
                             "tarnlink-cli load firmware.bin --port /dev/ttyUSB0"}) {
        EXPECT_NE(p.out.find(word), std::string::npos) << word << "\n" << p.out;
    }
}

TEST(CliOptionsTest, HelpHidesTheStationsOwnOption) {
    EXPECT_EQ(parse({"load", "--help"}).out.find("--station-child"), std::string::npos);
    EXPECT_TRUE(parse({"load", "f", "-p", "3", "--station-child"}).options.stationChild);
}

TEST(CliOptionsTest, VersionIsTheProjectVersion) {
    Parsed p = parse({"--version"});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.out, std::string("tarnlink-cli ") + TARNLINK_VERSION + "\n");
}

}  // namespace
}  // namespace tarnlink
