// tarnlink-cli.exe itself, under Wine, against the Linux simulated target: each suite runs
// in a process of its own with the simulators that scripts/wine-with-pty maps in as COM
// ports (TARNLINK_TEST_COM_PORTS, in the order tests/cli/program/CMakeLists.txt gives them).
// The program runs as a child process through the command line's own ChildProcess.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "cli/ports/serial_ports.h"
#include "cli/process/child_process.h"
#include "cli/report/sha256.h"
#include "platform/utf16_text.h"
#include "platform/utf8_file.h"
#include "sim/sim_crypt.h"
#include "tests/support/sample_data.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unicode_names.h"

namespace tarnlink {
namespace {

using test::lastLine;
using test::lines;
using test::padded;
using test::sampleImage;
using test::TempDir;

// A path of the Linux side as Wine shows it.
std::string hostPath(const std::string& path) {
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        c = c == '/' ? '\\' : c;
    }
    return windows;
}

std::string cliPath() {
    return hostPath(TARNLINK_CLI_EXE);
}

std::vector<std::string> comPorts() {
    std::vector<std::string> ports;
    std::istringstream in(std::getenv("TARNLINK_TEST_COM_PORTS") != nullptr
                              ? std::getenv("TARNLINK_TEST_COM_PORTS")
                              : "");
    for (std::string port; in >> port;) {
        ports.push_back(port);
    }
    return ports;
}

// The program writes its lines in text mode: \r\n.
std::string withoutCarriageReturns(std::string text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            out += text[i];
        }
    }
    return out;
}

struct CliResult {
    ChildExit exit;
    std::string out;
    std::string err;
};

// tarnlink-cli.exe running, its output gathered as it comes.
class CliRun {
  public:
    explicit CliRun(const std::vector<std::string>& args, const std::string& program = cliPath()) {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string error;
        m_child = ChildProcess::start(argv, &error);
        if (!m_child) {
            ADD_FAILURE() << "cannot start " << argv[0] << ": " << error;
            return;
        }
        m_outReader = std::thread([this] { gather(false); });
        m_errReader = std::thread([this] { gather(true); });
    }
    ~CliRun() {
        if (m_child) {
            m_child->kill();
            finish();
        }
    }

    long id() const { return m_child ? m_child->id() : 0; }
    void kill() {
        if (m_child) {
            m_child->kill();
        }
    }
    bool writeInput(const std::string& text) { return m_child && m_child->writeInput(text); }
    void closeInput() {
        if (m_child) {
            m_child->closeInput();
        }
    }

    bool waitForStderr(const std::string& text, int timeoutMs) {
        return waitFor(m_err, text, timeoutMs);
    }
    bool waitForStdout(const std::string& text, int timeoutMs) {
        return waitFor(m_out, text, timeoutMs);
    }

    /// Waits for the end; kills a child that still runs after `timeoutMs`.
    CliResult wait(int timeoutMs = 60000) {
        CliResult result;
        if (!m_child) {
            return result;
        }
        {
            std::unique_lock lock(m_mutex);
            if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return m_ended == 2; })) {
                ADD_FAILURE() << "tarnlink-cli still ran after " << timeoutMs << " ms: killed";
                m_child->kill();
            }
        }
        result.exit = finish();
        std::lock_guard lock(m_mutex);
        result.out = withoutCarriageReturns(m_out);
        result.err = withoutCarriageReturns(m_err);
        return result;
    }

  private:
    bool waitFor(const std::string& stream, const std::string& text, int timeoutMs) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return stream.find(text) != std::string::npos || m_ended == 2; });
        return stream.find(text) != std::string::npos;
    }

    void gather(bool errors) {
        char chunk[4096];
        for (size_t got; (got = errors ? m_child->readErrors(chunk, sizeof chunk)
                                       : m_child->readOutput(chunk, sizeof chunk)) > 0;) {
            std::lock_guard lock(m_mutex);
            (errors ? m_err : m_out).append(chunk, got);
            m_changed.notify_all();
        }
        std::lock_guard lock(m_mutex);
        ++m_ended;
        m_changed.notify_all();
    }

    ChildExit finish() {
        m_outReader.join();
        m_errReader.join();
        ChildExit exit = m_child->wait();
        m_child.reset();
        return exit;
    }

    std::unique_ptr<ChildProcess> m_child;
    std::thread m_outReader;
    std::thread m_errReader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_out;  // guarded by m_mutex
    std::string m_err;
    int m_ended = 0;  // readers at the end of their stream
};

CliResult runCli(const std::vector<std::string>& args, int timeoutMs = 60000,
                 const std::string& program = cliPath()) {
    return CliRun(args, program).wait(timeoutMs);
}

nlohmann::json parseJson(const std::string& text) {
    try {
        return nlohmann::json::parse(text);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "not JSON: " << e.what() << "\n" << text;
        return {};
    }
}

class CliWin32Test : public ::testing::Test {
  protected:
    void SetUp() override {
        // Nothing of the caller's may steer the program.
        SetEnvironmentVariableA("TARNLINK_PORT", nullptr);
        SetEnvironmentVariableA("TERM", nullptr);
        m_ports = comPorts();
        ASSERT_FALSE(m_ports.empty()) << "run through scripts/wine-with-pty with simulators";
    }

    std::string port(size_t i) const { return i < m_ports.size() ? m_ports[i] : "COM255"; }

    // The flash the simulator of this suite wrote at the end of its last transfer
    // (tarnlink-sim --flash-out), once it has `size` bytes.
    std::vector<uint8_t> simFlash(const char* variable, size_t size) {
        const char* path = std::getenv(variable);
        if (path == nullptr) {
            ADD_FAILURE() << variable << " is not set";
            return {};
        }
        std::vector<uint8_t> flash;
        for (int i = 0; i < 100; ++i) {
            flash = test::readFile(hostPath(path));
            if (flash.size() >= size) {
                break;
            }
            Sleep(50);
        }
        return flash;
    }

    void forgetSimFlash(const char* variable) {
        if (const char* path = std::getenv(variable)) {
            DeleteFileA(hostPath(path).c_str());
        }
    }

    TempDir m_dir;
    std::vector<std::string> m_ports;
};

// --- one good simulator (COM port 0) -----------------------------------------------------

using CliWin32Good = CliWin32Test;

TEST_F(CliWin32Good, LoadThenCryptSucceedAndReportJson) {
    const std::vector<uint8_t> image = sampleImage(1000);
    const std::string imagePath = m_dir.write("image.bin", image);
    forgetSimFlash("TARNLINK_TEST_FLASH_OUT");
    const CliResult load = runCli({"load", imagePath, "--port", port(0), "--json"});
    ASSERT_TRUE(load.exit.exited);
    EXPECT_EQ(load.exit.code, 0) << load.err;
    nlohmann::json j = parseJson(load.out);
    EXPECT_EQ(j["port"], port(0));
    EXPECT_EQ(j["name"], "SUCCESS");
    EXPECT_EQ(j["blocks"], 16);
    EXPECT_EQ(j["bytes"], 1000);
    EXPECT_EQ(j["sha256"], digestFile(imagePath)->sha256);
    EXPECT_GT(j["cpu_seconds"].get<double>(), 0.0);
    EXPECT_EQ(lastLine(load.err), "Download completed successfully");
    const std::vector<uint8_t> flash = simFlash("TARNLINK_TEST_FLASH_OUT", 1024);
    ASSERT_GE(flash.size(), 1024u);
    EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + 1024), padded(image));

    const std::string cryptPath = m_dir.file("crypt.bin");
    const CliResult crypt = runCli({"crypt", cryptPath, "--port", port(0), "--json"});
    EXPECT_EQ(crypt.exit.code, 0) << crypt.err;
    j = parseJson(crypt.out);
    EXPECT_EQ(j["name"], "CRYPT_UPLOADED");
    const std::vector<uint8_t> cryptBytes = test::readFile(cryptPath);
    ASSERT_GE(cryptBytes.size(), 1024u);
    EXPECT_EQ(j["bytes"], cryptBytes.size());
    EXPECT_EQ(j["sha256"], digestFile(cryptPath)->sha256);
    const std::vector<uint8_t> plain = sim::simCrypt(cryptBytes);
    EXPECT_EQ(std::vector<uint8_t>(plain.begin(), plain.begin() + 1024), padded(image));
    EXPECT_EQ(lastLine(crypt.err), "Crypto uploaded successfully.");
}

// --- names in any script ----------------------------------------------------------------

std::wstring wide(const std::string& utf8) {
    return utf16FromUtf8(utf8).value_or(L"<not UTF-8>");
}

// A folder named outside every ANSI code page ("Łódź-日本") in the test's folder; its
// UTF-8 name.
std::string makeNonAnsiFolder(const TempDir& dir) {
    const std::string folder = dir.file(test::NON_ANSI_NAME);
    EXPECT_TRUE(CreateDirectoryW(wide(folder).c_str(), nullptr)) << GetLastError();
    return folder;
}

void writeUtf8File(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = openUtf8File(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

std::string readUtf8File(const std::string& path) {
    std::string text;
    if (std::FILE* file = openUtf8File(path.c_str(), "rb")) {
        char chunk[4096];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
            text.append(chunk, got);
        }
        std::fclose(file);
    }
    return text;
}

// The names of the files in `folder` (UTF-8), as the system names them, sorted.
std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> files;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((wide(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            files.push_back(utf8FromUtf16(found.cFileName));
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}

constexpr const char* REPLACEMENT_CHARACTER = "\xEF\xBF\xBD";

// The image and the crypt in a folder, and under names, that no ANSI code page holds: each
// is opened under exactly its name and the JSON carries the names as they are.
TEST_F(CliWin32Good, LoadAndCryptInAFolderInAnyScript) {
    const std::string folder = makeNonAnsiFolder(m_dir);
    const std::string name = test::NON_ANSI_NAME;
    const std::vector<uint8_t> image = sampleImage(700, 5);
    const std::string imagePath = folder + "\\" + name + ".bin";
    writeUtf8File(imagePath, image);
    forgetSimFlash("TARNLINK_TEST_FLASH_OUT");
    const CliResult load = runCli({"load", imagePath, "--port", port(0), "--json"});
    EXPECT_EQ(load.exit.code, 0) << load.err;
    nlohmann::json j = parseJson(load.out);
    EXPECT_EQ(j["name"], "SUCCESS");
    EXPECT_EQ(j["image"], imagePath);
    EXPECT_EQ(j["sha256"], digestFile(imagePath)->sha256);
    EXPECT_EQ(load.out.find(REPLACEMENT_CHARACTER), std::string::npos) << load.out;
    const std::vector<uint8_t> flash = simFlash("TARNLINK_TEST_FLASH_OUT", 704);
    ASSERT_GE(flash.size(), 704u);
    EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + 704), padded(image));

    const std::string cryptName = "crypt-" + name + ".bin";
    const std::string cryptPath = folder + "\\" + cryptName;
    const CliResult crypt = runCli({"crypt", cryptPath, "--port", port(0), "--json"});
    EXPECT_EQ(crypt.exit.code, 0) << crypt.err;
    j = parseJson(crypt.out);
    EXPECT_EQ(j["name"], "CRYPT_UPLOADED");
    EXPECT_EQ(j["output"], cryptPath);
    EXPECT_EQ(crypt.out.find(REPLACEMENT_CHARACTER), std::string::npos) << crypt.out;
    EXPECT_EQ(filesIn(folder), (std::vector<std::string>{cryptName, name + ".bin"}));
    const std::string cryptBytes = readUtf8File(cryptPath);
    EXPECT_EQ(j["bytes"], cryptBytes.size());
    EXPECT_EQ(j["sha256"], digestFile(cryptPath)->sha256);
}

// Intel HEX text, 16 bytes a line, from address 0.
std::string hexText(const std::vector<uint8_t>& data) {
    std::string text;
    for (size_t at = 0; at < data.size(); at += 16) {
        const size_t n = std::min<size_t>(16, data.size() - at);
        unsigned sum = unsigned(n) + unsigned(at >> 8) + unsigned(at & 0xFF);
        char field[16];
        std::snprintf(field, sizeof field, ":%02X%04X00", unsigned(n), unsigned(at));
        text += field;
        for (size_t i = 0; i < n; ++i) {
            std::snprintf(field, sizeof field, "%02X", data[at + i]);
            text += field;
            sum += data[at + i];
        }
        std::snprintf(field, sizeof field, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += field;
    }
    return text + ":00000001FF\r\n";
}

TEST_F(CliWin32Good, AHexFileFlashesItsImageAndVerifiesWithoutWriting) {
    const std::vector<uint8_t> image = sampleImage(700, 5);
    const std::string text = hexText(image);
    const std::string hexPath =
        m_dir.write("fw.hex", std::vector<uint8_t>(text.begin(), text.end()));
    forgetSimFlash("TARNLINK_TEST_FLASH_OUT");
    const CliResult load = runCli({"load", hexPath, "--port", port(0), "--json"});
    EXPECT_EQ(load.exit.code, 0) << load.err;
    const nlohmann::json j = parseJson(load.out);
    EXPECT_EQ(j["format"], "ihex");
    EXPECT_EQ(j["base"], "0x00000000");
    EXPECT_EQ(j["sha256"], digestFile(hexPath)->sha256);
    const std::vector<uint8_t> flash = simFlash("TARNLINK_TEST_FLASH_OUT", 704);
    ASSERT_GE(flash.size(), 704u);
    EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + 704), padded(image));

    const CliResult same = runCli({"verify", hexPath, "--port", port(0)});
    EXPECT_EQ(same.exit.code, 0) << same.err;
    EXPECT_EQ(lastLine(same.err), "All 11 blocks match the image");

    std::vector<uint8_t> other = image;
    other[3 * 64 + 1] ^= 0x20;
    other[9 * 64] ^= 0x01;
    const CliResult differs =
        runCli({"verify", m_dir.write("other.bin", other), "--port", port(0)});
    EXPECT_EQ(differs.exit.code, 7) << differs.err;
    EXPECT_EQ(lastLine(differs.err),
              "Block 3 (target address 0x0030) differs; 2 of 11 blocks differ");
}

// A pipe is no console: plain lines, no cursor codes.
TEST_F(CliWin32Good, PlainLinesOnAPipe) {
    const CliResult load =
        runCli({"load", m_dir.write("i.bin", sampleImage(200)), "--port", port(0)});
    EXPECT_EQ(load.exit.code, 0) << load.err;
    EXPECT_EQ(load.out, "");
    EXPECT_EQ(load.err.find('\x1b'), std::string::npos) << load.err;
    EXPECT_GE(lines(load.err).size(), 3u) << load.err;
}

// "/folder/crypt.bin" is a path on the current drive, as MSYS2 and Git Bash users type it,
// not a Windows-style option "/folder".
TEST_F(CliWin32Good, APathThatBeginsWithASlashIsAFile) {
    char here[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, here), 2u);
    const std::string folder =
        std::string(here) + "\\slash-path-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    std::string slashed = folder.substr(2);  // without the drive: "\\work\\...\\slash-path-N"
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    const CliResult crypt = runCli({"crypt", slashed + "/crypt.bin", "--port", port(0), "--json"});
    const std::vector<uint8_t> written = test::readFile(folder + "\\crypt.bin");
    DeleteFileA((folder + "\\crypt.bin").c_str());
    RemoveDirectoryA(folder.c_str());
    EXPECT_EQ(crypt.exit.code, 0) << crypt.err;
    EXPECT_FALSE(written.empty());
    EXPECT_EQ(parseJson(crypt.out)["output"], slashed + "/crypt.bin");
}

struct FileCase {
    const char* name;
    const char* command;
    int exitCode;
    const char* message;
    const char* why;  ///< the last line: {file} the file's path, {folder} the temporary folder
};

class CliWin32Files : public CliWin32Test, public ::testing::WithParamInterface<FileCase> {};

TEST_P(CliWin32Files, ProblemsWithTheFileNameTheFile) {
    const FileCase& c = GetParam();
    std::string file;
    if (std::string(c.name) == "EmptyImage") {
        file = m_dir.write("empty.bin", {});
    } else if (std::string(c.name) == "OversizedImage") {
        file = m_dir.write("big.bin", std::vector<uint8_t>(262144, 0x5A));
    } else if (std::string(c.name) == "MissingImage") {
        file = m_dir.file("no-such-image.bin");
    } else {
        file = m_dir.file("no-such-folder/crypt.bin");
    }
    const CliResult r = runCli({c.command, file, "--port", port(0), "--json"});
    EXPECT_EQ(r.exit.code, c.exitCode) << r.err;
    std::string why = c.why;
    why.replace(why.find("{file}"), 6, file);
    if (const size_t at = why.find("{folder}"); at != std::string::npos) {
        why.replace(at, 8, m_dir.file("no-such-folder"));
    }
    const std::vector<std::string> err = lines(r.err);
    ASSERT_GE(err.size(), 2u) << r.err;
    EXPECT_EQ(err[err.size() - 2], c.message);
    EXPECT_EQ(err.back(), why);
    EXPECT_EQ(parseJson(r.out)["detail"], why);
}

INSTANTIATE_TEST_SUITE_P(
    Files, CliWin32Files,
    ::testing::Values(FileCase{"MissingImage", "load", 4, "Unable to open image file",
                               "{file}: No such file or directory"},
                      FileCase{"EmptyImage", "load", 3, "Bad image file",
                               "{file}: the file is empty"},
                      FileCase{"OversizedImage", "load", 3, "Bad image file",
                               "{file}: 262144 bytes; an image holds at most 262,140"},
                      FileCase{"UncreatableOutput", "crypt", 4, "Unable to open image file",
                               "{file}: no folder {folder}"}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return info.param.name; });

struct PortCase {
    const char* name;
    const char* port;  ///< {file}: a plain file
    const char* why;   ///< the line after SERIALPORT_ERROR
};

class CliWin32Ports : public CliWin32Test, public ::testing::WithParamInterface<PortCase> {};

TEST_P(CliWin32Ports, APortThatCannotBeOpenedSaysWhy) {
    const PortCase& c = GetParam();
    const std::string file = m_dir.write("i.bin", {1, 2, 3});
    std::string portName = c.port;
    std::string why = c.why;
    if (portName == "{file}") {
        portName = file;
        why.replace(why.find("{file}"), 6, file);
    }
    const CliResult r = runCli({"load", file, "--port", portName, "--json"});
    EXPECT_EQ(r.exit.code, 10) << r.err;
    EXPECT_EQ(lines(r.err), (std::vector<std::string>{"SERIALPORT_ERROR", why})) << r.err;
    EXPECT_EQ(parseJson(r.out)["name"], "SERIALPORT_ERROR");
}

INSTANTIATE_TEST_SUITE_P(
    Ports, CliWin32Ports,
    ::testing::Values(PortCase{"Missing", "COM250", "\\\\.\\COM250: no such device"},
                      PortCase{"MissingByDevicePath", "\\\\.\\COM249",
                               "\\\\.\\COM249: no such device"},
                      PortCase{"PlainFile", "{file}", "{file}: not a serial device"},
                      PortCase{"NulDevice", "\\\\.\\NUL", "\\\\.\\NUL: not a serial device"}),
    [](const ::testing::TestParamInfo<PortCase>& info) { return info.param.name; });

// The program lists what the system knows of its COM ports (Wine knows its own COM1, not
// the ports mapped in later: tests/cli/ports/serial_ports_win32_test.cpp).
TEST_F(CliWin32Good, PortsListsTheSystemsComPorts) {
    const CliResult r = runCli({"ports", "--json"});
    EXPECT_EQ(r.exit.code, 0) << r.err;
    const nlohmann::json list = parseJson(r.out);
    ASSERT_TRUE(list.is_array()) << r.out;
    std::vector<std::string> listed;
    for (const nlohmann::json& p : list) {
        listed.push_back(p["device"]);
        EXPECT_EQ(p["device"], p["name"]);
        EXPECT_TRUE(p["latency_timer_ms"].is_null());
    }
    std::vector<std::string> known;
    for (const SerialPortInfo& p : availableSerialPorts()) {
        known.push_back(p.devicePath);
    }
    EXPECT_EQ(listed, known);
    const CliResult plain = runCli({"ports"});
    EXPECT_EQ(plain.exit.code, 0) << plain.err;
    EXPECT_EQ(lines(plain.out).size(), known.size()) << plain.out;
}

// The help names ports as Windows does; the doctor reads Linux's system files, and here it
// says so instead of failing the parse.
TEST_F(CliWin32Good, HelpAndDoctorSpeakOfThisPlatform) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"doctor"}, {"doctor", "--port", port(0), "--json"}}) {
        const CliResult r = runCli(args);
        EXPECT_EQ(r.exit.code, 64);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("doctor checks a Linux machine's serial set-up"), std::string::npos)
            << r.err;
    }
    const CliResult help = runCli({"--help"});
    EXPECT_EQ(help.out.find("doctor"), std::string::npos) << help.out;
    EXPECT_EQ(help.out.find("/dev/"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--port COM3 --port COM4"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("crypt-COM3.bin"), std::string::npos) << help.out;
}

// tarnlink-cli.exe's manifest, as the system reads it: paths past MAX_PATH where the system
// allows them, and Windows 7 to 11 as the systems it is made for.
TEST_F(CliWin32Good, ManifestAllowsLongPathsAndNamesItsSystems) {
    const std::wstring program = wide(cliPath());
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = program.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    const HANDLE context = CreateActCtxW(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "no manifest: error " << GetLastError();
    wchar_t value[64] = L"";
    SIZE_T written = 0;
    EXPECT_TRUE(QueryActCtxSettingsW(0, context,
                                     L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                                     L"longPathAware", value, 64, &written));
    EXPECT_EQ(std::wstring(value), L"true");
    std::vector<char> compatibility(4096);
    SIZE_T size = 0;
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext,
                             compatibility.data(), compatibility.size(), &size));
    DWORD systems = 0;
    std::memcpy(&systems, compatibility.data(), sizeof systems);
    EXPECT_EQ(systems, 4u);  // 7, 8, 8.1, 10 and 11
    ReleaseActCtx(context);
}

TEST_F(CliWin32Good, PortInUseIsNotTestableHere) {
    GTEST_SKIP() << "Wine opens a COM port twice despite share mode 0, so a second program "
                    "is never refused; Windows answers ERROR_ACCESS_DENIED (in use)";
}

// Ctrl-Break to the program's process group (ChildProcess starts it in a group of its own).
// The group must share a console with this test: one is made when there is none (under
// CTest the test runs on pipes).
TEST_F(CliWin32Good, CtrlBreakCancelsTheTransfer) {
    const bool consoleMade = GetConsoleWindow() == nullptr && AllocConsole() != 0;
    const std::string imagePath = m_dir.write("big.bin", sampleImage(64 * 400));
    CliRun run({"load", imagePath, "--port", port(0), "--json"});
    ASSERT_TRUE(run.waitForStderr("Sending Data Packet", 30000));
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(run.id()))) {
        const DWORD error = GetLastError();
        run.kill();
        // Wine 8 answers ERROR_INVALID_ACCESS without a console, ERROR_INVALID_HANDLE with
        // one (also on a terminal), and delivers no event to another process at all.
        GTEST_SKIP() << "GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT) to the program's group "
                        "fails here (error "
                     << error << ", console made: " << consoleMade << ")";
    }
    const CliResult r = run.wait(30000);
    if (r.exit.exited && r.exit.code == 0) {
        GTEST_SKIP() << "Ctrl-Break was sent but never reached the program: the load ran to "
                        "its end (console made: "
                     << consoleMade << ")";
    }
    EXPECT_EQ(r.exit.code, 8) << r.err;
    EXPECT_EQ(lastLine(r.err), "Download canceled");
    EXPECT_EQ(parseJson(r.out)["name"], "DOWNLOAD_CANCELED");
}

// How a station reaches each board's program on every platform: a line "cancel" on its
// standard input, or the end of that input (the station went away).
class CliWin32StationChild : public CliWin32Test, public ::testing::WithParamInterface<bool> {};

TEST_P(CliWin32StationChild, CancelLineOrEndOfInputCancelsTheTransfer) {
    const bool endOfInput = GetParam();
    const std::string imagePath = m_dir.write("big.bin", sampleImage(64 * 400));
    CliRun run({"load", imagePath, "--port", port(0), "--station-child", "--events"});
    ASSERT_TRUE(run.waitForStdout("\"event\":\"progress\"", 30000));
    if (endOfInput) {
        run.closeInput();
    } else {
        EXPECT_TRUE(run.writeInput("status?\ncancel\r\n"));
    }
    const CliResult r = run.wait(30000);
    EXPECT_TRUE(r.exit.exited);
    EXPECT_EQ(r.exit.code, 8) << r.err;
    bool canceled = false;
    for (const std::string& line : lines(r.out)) {
        const nlohmann::json event = parseJson(line);
        canceled = canceled || event.value("name", "") == "DOWNLOAD_CANCELED";
    }
    EXPECT_TRUE(canceled) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Requests, CliWin32StationChild, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "EndOfInput" : "CancelLine";
                         });

// --- on a console (run under a pseudo-terminal): a slow simulator, one that leaves writes
// unanswered -----------------------------------------------------------------------------

BOOL WINAPI ignoreControl(DWORD) {
    return TRUE;  // the event is for the program under test
}

// tarnlink-cli.exe on this test's console and in its process group, as a shell starts it,
// so that the console's Ctrl-C reaches it; its output goes to files.
class ConsoleRun {
  public:
    ConsoleRun(const TempDir& dir, const std::vector<std::string>& args)
        : m_outPath(dir.file("out.txt")), m_errPath(dir.file("err.txt")) {
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        const HANDLE out = CreateFileA(m_outPath.c_str(), GENERIC_WRITE, share, &inheritable,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        const HANDLE err = CreateFileA(m_errPath.c_str(), GENERIC_WRITE, share, &inheritable,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        const HANDLE in = CreateFileA("NUL", GENERIC_READ, share, &inheritable, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
        std::string line = "\"" + cliPath() + "\"";
        for (const std::string& arg : args) {
            line += " " + arg;  // paths and names without blanks
        }
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = out;
        startup.hStdError = err;
        if (!CreateProcessA(cliPath().c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                            nullptr, &startup, &m_info)) {
            ADD_FAILURE() << "cannot start tarnlink-cli: error " << GetLastError();
        }
        CloseHandle(in);
        CloseHandle(out);
        CloseHandle(err);
    }
    ~ConsoleRun() {
        if (m_info.hProcess != nullptr) {
            TerminateProcess(m_info.hProcess, 1);
            WaitForSingleObject(m_info.hProcess, INFINITE);
            CloseHandle(m_info.hProcess);
            CloseHandle(m_info.hThread);
        }
    }

    std::string err() const { return text(m_errPath); }
    std::string out() const { return text(m_outPath); }

    bool waitForStderr(const std::string& wanted, int timeoutMs) const {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            if (err().find(wanted) != std::string::npos) {
                return true;
            }
            if (m_info.hProcess == nullptr ||
                WaitForSingleObject(m_info.hProcess, 20) == WAIT_OBJECT_0) {
                return err().find(wanted) != std::string::npos;
            }
        }
        return false;
    }

    /// The exit status; -1 when it still ran after `timeoutMs`.
    long long wait(int timeoutMs) const {
        DWORD status = 0;
        if (m_info.hProcess == nullptr ||
            WaitForSingleObject(m_info.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(m_info.hProcess, &status)) {
            return -1;
        }
        return status;
    }

  private:
    static std::string text(const std::string& path) {
        const std::vector<uint8_t> bytes = test::readFile(path);
        return withoutCarriageReturns(std::string(bytes.begin(), bytes.end()));
    }

    std::string m_outPath;
    std::string m_errPath;
    PROCESS_INFORMATION m_info{};
};

class CliWin32Console : public CliWin32Test {
  protected:
    void SetUp() override {
        CliWin32Test::SetUp();
        SetConsoleCtrlHandler(ignoreControl, TRUE);
    }
    void TearDown() override { SetConsoleCtrlHandler(ignoreControl, FALSE); }

    // Ctrl-C on the console: every process on it gets it, this test ignores it.
    void pressCtrlC() {
        if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
            m_noConsole = GetLastError();
        }
    }
    DWORD m_noConsole = 0;
};

TEST_F(CliWin32Console, CtrlCCancelsTheTransfer) {
    const std::string imagePath = m_dir.write("image.bin", sampleImage(256 * 64));
    ConsoleRun run(m_dir, {"load", imagePath, "--port", port(0), "--json"});
    ASSERT_TRUE(run.waitForStderr("Sending Data Packet 0", 20000)) << run.err();
    const auto pressed = std::chrono::steady_clock::now();
    pressCtrlC();
    if (m_noConsole != 0) {
        GTEST_SKIP() << "no console to press Ctrl-C on (error " << m_noConsole
                     << "): run it under a pseudo-terminal";
    }
    EXPECT_EQ(run.wait(20000), 8) << run.err();
    EXPECT_NE(run.err().find("Canceling (Ctrl-C again quits at once)..."), std::string::npos)
        << run.err();
    EXPECT_EQ(lastLine(run.err()), "Download canceled");
    EXPECT_EQ(parseJson(run.out())["name"], "DOWNLOAD_CANCELED");
    // The whole image would take about 5 s; the cancel ends it within one wait.
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(4));
}

TEST_F(CliWin32Console, SecondCtrlCQuitsAtOnce) {
    // Writes go unanswered: the cancel waits for the end of a 500 ms wait, so the second
    // Ctrl-C comes while the transfer still runs.
    const std::string imagePath = m_dir.write("image.bin", sampleImage(256 * 64));
    ConsoleRun run(m_dir, {"load", imagePath, "--port", port(1)});
    ASSERT_TRUE(run.waitForStderr("Sending Data Packet 0", 20000)) << run.err();
    pressCtrlC();
    if (m_noConsole != 0) {
        GTEST_SKIP() << "no console to press Ctrl-C on (error " << m_noConsole
                     << "): run it under a pseudo-terminal";
    }
    ASSERT_TRUE(run.waitForStderr("Canceling", 5000)) << run.err();
    pressCtrlC();
    EXPECT_EQ(run.wait(5000), static_cast<long long>(STATUS_CONTROL_C_EXIT)) << run.err();
    EXPECT_NE(run.err().find("Interrupted again"), std::string::npos) << run.err();
}

// The names a Western system's console cannot spell in its code page (437) show there as
// they are: the program writes the console's own UTF-16. The console is a screen buffer of
// its own, read back afterwards.
TEST_F(CliWin32Console, NamesInAnyScriptShowOnTheConsole) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE screen =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inheritable, CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (screen == INVALID_HANDLE_VALUE) {
        GTEST_SKIP() << "no console here (error " << GetLastError()
                     << "): run it under a pseudo-terminal";
    }
    const UINT codePage = GetConsoleOutputCP();
    SetConsoleOutputCP(437);
    const std::string missing = makeNonAnsiFolder(m_dir) + "\\" + test::NON_ANSI_NAME + ".bin";
    const HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, 0, &inheritable,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = nul;
    startup.hStdError = screen;
    std::wstring line =
        L"\"" + wide(cliPath()) + L"\" load \"" + wide(missing) + L"\" --port " + wide(port(0));
    PROCESS_INFORMATION info{};
    const bool started = CreateProcessW(wide(cliPath()).c_str(), line.data(), nullptr, nullptr,
                                        TRUE, 0, nullptr, nullptr, &startup, &info);
    CloseHandle(nul);
    DWORD status = 0;
    if (started) {
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0);
        GetExitCodeProcess(info.hProcess, &status);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    SetConsoleOutputCP(codePage);
    ASSERT_TRUE(started) << GetLastError();
    EXPECT_EQ(status, 4u);

    CONSOLE_SCREEN_BUFFER_INFO buffer{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &buffer));
    const DWORD width = static_cast<DWORD>(buffer.dwSize.X);
    std::wstring shown(width * static_cast<DWORD>(buffer.dwSize.Y), L' ');
    DWORD read = 0;
    ASSERT_TRUE(ReadConsoleOutputCharacterW(screen, shown.data(), static_cast<DWORD>(shown.size()),
                                            COORD{0, 0}, &read));
    CloseHandle(screen);
    shown.resize(read);
    // The rows wrap where the screen ends: compared without blanks and line ends.
    auto withoutBlanks = [](std::wstring text) {
        std::erase_if(text, [](wchar_t c) { return c == L' ' || c == L'\n'; });
        return text;
    };
    const std::wstring text = withoutBlanks(shown);
    std::string escaped;  // this test's own console may not show every character
    for (const wchar_t c : text) {
        escaped += c < 0x80 ? std::string(1, static_cast<char>(c))
                            : "<U+" + std::to_string(static_cast<unsigned>(c)) + ">";
    }
    EXPECT_NE(text.find(withoutBlanks(wide(missing + ": No such file or directory"))),
              std::wstring::npos)
        << escaped;
}

// --- simulators that fail: silent, refusing the second write, storing a block wrong -------

struct FaultCase {
    const char* name;
    size_t simulator;
    int exitCode;
    const char* message;
    const char* why;  ///< or null
};

class CliWin32Faults : public CliWin32Test, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CliWin32Faults, ExitsWithTheResultNumber) {
    const FaultCase& c = GetParam();
    const CliResult r = runCli(
        {"load", m_dir.write("i.bin", sampleImage(200)), "--port", port(c.simulator), "--json"});
    EXPECT_EQ(r.exit.code, c.exitCode) << r.err;
    const nlohmann::json j = parseJson(r.out);
    EXPECT_EQ(j["result"], c.exitCode);
    EXPECT_EQ(j["message"], c.message);
    const std::vector<std::string> err = lines(r.err);
    ASSERT_GE(err.size(), 2u) << r.err;
    if (c.why == nullptr) {
        EXPECT_EQ(err.back(), c.message);
    } else {
        EXPECT_EQ(err[err.size() - 2], c.message);
        EXPECT_EQ(err.back(), c.why);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Results, CliWin32Faults,
    ::testing::Values(FaultCase{"SilentTarget", 0, 6, "Timeout waiting for response from target",
                                nullptr},
                      FaultCase{"RefusedWrite", 1, 1, "General Failure", nullptr},
                      FaultCase{"BlockStoredWrong", 2, 7, "Verification of download failed",
                                "Block 1 (target address 0x0010) did not verify"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// --- two good simulators: a station of two boards ----------------------------------------

using CliWin32Station = CliWin32Test;

TEST_F(CliWin32Station, TwoBoardsAtOnceBothSucceed) {
    ASSERT_EQ(m_ports.size(), 2u);
    const std::vector<uint8_t> image = sampleImage(700, 3);
    const std::string imagePath = m_dir.write("image.bin", image);
    forgetSimFlash("TARNLINK_TEST_FLASH_OUT");
    forgetSimFlash("TARNLINK_TEST_FLASH_OUT_2");
    const CliResult r =
        runCli({"load", imagePath, "--port", port(0), "--port", port(1), "--json"}, 120000);
    EXPECT_EQ(r.exit.code, 0) << r.err;
    std::vector<std::string> reported;
    for (const std::string& line : lines(r.out)) {
        const nlohmann::json j = parseJson(line);
        EXPECT_EQ(j["name"], "SUCCESS") << line;
        reported.push_back(j["port"]);
    }
    std::vector<std::string> ports = m_ports;  // numbered in the order the links were made
    std::sort(reported.begin(), reported.end());
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(reported, ports);
    EXPECT_EQ(lastLine(r.err), "2 of 2 boards succeeded") << r.err;
    for (const char* flashOut : {"TARNLINK_TEST_FLASH_OUT", "TARNLINK_TEST_FLASH_OUT_2"}) {
        const std::vector<uint8_t> flash = simFlash(flashOut, 704);
        ASSERT_GE(flash.size(), 704u) << flashOut;
        EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + 704), padded(image))
            << flashOut;
    }
}

// The working folder for as long as it lives.
class WorkingFolder {
  public:
    explicit WorkingFolder(const std::string& folder) {
        wchar_t before[32768];
        const DWORD size = GetCurrentDirectoryW(32768, before);
        m_before.assign(before, size);
        EXPECT_TRUE(SetCurrentDirectoryW(wide(folder).c_str())) << GetLastError();
    }
    ~WorkingFolder() { SetCurrentDirectoryW(m_before.c_str()); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

  private:
    std::wstring m_before;
};

// tarnlink-cli.exe itself lies in a folder named outside every ANSI code page and runs from
// there: it starts a child of itself for each board, each writes its crypt under a name
// in that script, and the record and the JSON carry the names as they are.
TEST_F(CliWin32Station, RunsFromAFolderInAnyScriptWithItsRecord) {
    ASSERT_EQ(m_ports.size(), 2u);
    const std::string folder = makeNonAnsiFolder(m_dir);
    const std::string name = test::NON_ANSI_NAME;
    const std::string program = folder + "\\tarnlink-cli.exe";
    ASSERT_TRUE(CopyFileW(wide(cliPath()).c_str(), wide(program).c_str(), TRUE)) << GetLastError();
    const WorkingFolder here(folder);
    const CliResult r = runCli({"crypt", name + ".bin", "--port", port(0), "--port", port(1),
                                "--record", name + ".csv", "--json"},
                               120000, program);
    EXPECT_EQ(r.exit.code, 0) << r.err;
    EXPECT_EQ(r.out.find(REPLACEMENT_CHARACTER), std::string::npos) << r.out;
    std::vector<std::string> outputs;
    for (const std::string& line : lines(r.out)) {
        const nlohmann::json j = parseJson(line);
        EXPECT_EQ(j["name"], "CRYPT_UPLOADED") << line;
        outputs.push_back(j["output"]);
    }
    std::vector<std::string> expected;
    for (const std::string& port : m_ports) {
        expected.push_back(name + "-" + port + ".bin");
    }
    std::sort(outputs.begin(), outputs.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(outputs, expected);
    std::vector<std::string> files = expected;
    files.push_back(name + ".csv");
    files.push_back("tarnlink-cli.exe");
    std::sort(files.begin(), files.end());
    EXPECT_EQ(filesIn(folder), files);
    const std::vector<std::string> record = lines(readUtf8File(folder + "\\" + name + ".csv"));
    ASSERT_EQ(record.size(), 3u) << readUtf8File(folder + "\\" + name + ".csv");
    for (size_t i = 1; i < record.size(); ++i) {
        EXPECT_TRUE(record[i].find("," + expected[0] + ",") != std::string::npos ||
                    record[i].find("," + expected[1] + ",") != std::string::npos)
            << record[i];
    }
}

}  // namespace
}  // namespace tarnlink
