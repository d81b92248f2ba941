#include "cli/transfer_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>

#include "cli/interrupt_watcher.h"
#include "cli/slow_line_watch.h"
#include "link/serial_link.h"
#include "protocol/exchange_timing.h"
#include "transfer/crypt_worker.h"
#include "transfer/download_worker.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

namespace {

class Pipe {
  public:
    Pipe() {
        if (::pipe2(m_fds, O_CLOEXEC) == 0) {
            // Neither the interrupt watcher nor the target may ever block on a full pipe.
            ::fcntl(m_fds[1], F_SETFL, O_NONBLOCK);
        } else {
            m_fds[0] = m_fds[1] = -1;
        }
    }
    ~Pipe() {
        for (int fd : m_fds) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool ok() const { return m_fds[0] >= 0; }
    int readEnd() const { return m_fds[0]; }
    int writeEnd() const { return m_fds[1]; }

  private:
    int m_fds[2];
};

}  // namespace

TransferOutcome runTransfer(const CliOptions& options, OutputMode mode) {
    const TransferKind kind =
        options.command == CliCommand::LOAD ? TransferKind::LOAD : TransferKind::CRYPT;
    TransferOutcome outcome;
    outcome.devicePath = serialPortDevicePath(options.portPath);

    Pipe pipe;
    if (!pipe.ok()) {
        outcome.result = GENERAL_FAILURE;
        return outcome;
    }
    auto target = std::make_shared<ConsoleTarget>(kind, mode, stderr, pipe.writeEnd());
    InterruptWatcher interrupts(pipe.writeEnd());
    setNotificationTarget(target);

    resetExchangeTiming();
    SlowLineWatch slowLine(outcome.devicePath);
    const auto start = std::chrono::steady_clock::now();
    if (kind == TransferKind::LOAD) {
        startDownload(options.file.c_str(), options.portPath.c_str(),
                      options.noResetVerify ? 1 : 0);
    } else {
        startCryptReadBack(options.file.c_str(), options.portPath.c_str());
    }
    // The start ran on this thread, so the link's error number is the one of this open.
    const int portError = serialLinkLastError();

    int result = -1;
    while (result < 0) {
        pollfd wait{pipe.readEnd(), POLLIN, 0};
        const int ready = ::poll(&wait, 1, 250);
        if (const std::string warning = slowLine.poll(false); !warning.empty()) {
            target->note(warning);
        }
        if (ready <= 0) {
            target->refresh();
            continue;
        }
        unsigned char message[2];
        const ssize_t got = ::read(pipe.readEnd(), message, 1);
        if (got <= 0) {
            continue;
        }
        if (message[0] == 'I') {
            cancelTransfer();
            target->note("Canceling (Ctrl-C again quits at once)...");
        } else if (message[0] == 'R' && ::read(pipe.readEnd(), message + 1, 1) == 1) {
            result = message[1];
        }
    }
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    clearNotificationTarget();
    target->finish(static_cast<uint8_t>(result));
    if (const std::string warning = slowLine.poll(true); !warning.empty()) {
        target->note(warning);
    }
    outcome.line = lineFigures(exchangeFigures(), outcome.seconds);

    outcome.result = static_cast<uint8_t>(result);
    outcome.blocks = target->blocksDone();
    outcome.portError = portError;
    outcome.packetIndex = g_transfer.packetIndex.load();
    outcome.address = g_transfer.address.load();
    return outcome;
}

}  // namespace tarnlink
