// A port that goes away in the middle of a transfer, as an unplugged adapter does: the
// simulated target closes its pseudo-terminal's master, and the device node disappears.
// The transfer must end at once with SERIALPORT_ERROR and say that the port was lost,
// neither spinning on the dead port nor waiting out its retries to blame the target.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <string>

#include "tests/transfer/sim_transfer_fixture.h"
#include "transfer/crypt_worker.h"
#include "transfer/download_worker.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

using test::patternImage;
using Bytes = std::vector<uint8_t>;

double processCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct LostPortCase {
    const char* name;
    bool crypt;
    const char* statusBeforeUnplug;  ///< the transfer is well under way
};

void PrintTo(const LostPortCase& c, std::ostream* out) {
    *out << c.name;
}

class LostPortTest : public test::SimTransferTest,
                     public ::testing::WithParamInterface<LostPortCase> {};

TEST_P(LostPortTest, EndsAtOnceWithSerialPortErrorAndNamesTheLostPort) {
    const LostPortCase& c = GetParam();
    const Bytes plain = patternImage(64 * 64, 31);
    sim::SimOptions options;
    options.delayMs = 10;  // about 50 blocks a second: the unplug lands mid-transfer
    options.flashIn = m_dir.write("flash.bin", plain);
    startSim(options);
    const std::string port = this->port();
    const std::string path =
        c.crypt ? m_dir.file("crypt.bin") : m_dir.write("image.bin", patternImage(64 * 64, 32));
    if (c.crypt) {
        startCryptReadBack(path.c_str(), port.c_str());
    } else {
        startDownload(path.c_str(), port.c_str(), 0);
    }
    ASSERT_TRUE(m_recorder->waitForStatus(c.statusBeforeUnplug, 10000));

    const double cpuBefore = processCpuMs();
    const auto unplugged = Clock::now();
    m_sim->stop();  // closes the master: the slave hangs up and its node goes away
    struct stat node {};
    EXPECT_NE(stat(port.c_str(), &node), 0) << "the device node is still there";

    const auto result = awaitResult(5000);
    const auto ended = Clock::now();
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, SERIALPORT_ERROR) << transferResultName(*result);
    EXPECT_TRUE(g_transfer.portLost.load());
    // The retries alone would take 3 s; the lost port ends it within one wait.
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(ended - unplugged).count();
    EXPECT_LT(tookMs, 1000);
    const double cpu = processCpuMs() - cpuBefore;
    EXPECT_LT(cpu, 0.5 * static_cast<double>(tookMs) + 50) << cpu << " ms of CPU";
    if (c.crypt) {
        // Whole blocks, the ones that came before the unplug, in order.
        const Bytes written = test::readFile(path);
        const Bytes crypt = sim::SimTarget::encrypt(plain);
        EXPECT_GE(written.size(), 2u * 64);
        EXPECT_EQ(written.size() % 64, 0u);
        EXPECT_EQ(written, Bytes(crypt.begin(), crypt.begin() + static_cast<long>(written.size())));
    }
    // The fixture's end checks that no descriptor and no thread were left behind.
}

INSTANTIATE_TEST_SUITE_P(
    Transfers, LostPortTest,
    ::testing::Values(LostPortCase{"DownloadWriting", false, "Sending Data Packet 5"},
                      LostPortCase{"DownloadVerifying", false, "Verifying Data Packet 5"},
                      LostPortCase{"Crypt", true, "Reading crypto binary: 5"}),
    [](const auto& info) { return std::string(info.param.name); });

// The flag belongs to the transfer that lost its port: a start clears it, so a port that
// then cannot be opened is not said to have gone away during a transfer.
TEST_F(LostPortTest, NextStartClearsTheFlag) {
    g_transfer.portLost.store(true);  // as the transfer before this one left it
    const std::string output = m_dir.file("crypt.bin");
    startCryptReadBack(output.c_str(), "/dev/tarnlink-no-such-port");
    ASSERT_EQ(awaitResult(5000), SERIALPORT_ERROR);
    EXPECT_FALSE(g_transfer.portLost.load());
}

}  // namespace
}  // namespace tarnlink
