#include "sim/sim_target.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "sim/boot_loader.h"
#include "sim/sim_crypt.h"
#include "sim/sim_frame.h"
#include "sim/sim_line.h"
#include "sim/sim_log.h"
#include "sim/sim_pty.h"

namespace tarnlink::sim {
namespace {

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

struct SimTarget::Impl {
    explicit Impl(SimOptions opts) : options(std::move(opts)), loader(options) {}

    void serve();
    void serveFrames();
    void awaitHostRead();
    bool handleFrame(SimLine& line, const SimFrame& frame, const std::vector<uint8_t>& raw);
    void writeFlashOut() const;

    SimOptions options;
    mutable std::mutex loaderMutex;  // the serving thread and flash() share the loader
    BootLoader loader;
    SimPty pty;
    SimLog log;
    std::string portPath;
    std::string linkMade;
    int stopFd = -1;
    std::thread thread;
    bool started = false;
    std::atomic<uint32_t> transfersEnded{0};
    std::atomic<bool> finished{false};
};

void SimTarget::Impl::serve() {
    serveFrames();
    awaitHostRead();
    finished.store(true);
}

// With --once the program closes the pseudo-terminal as soon as serving ends; a hang-up
// flushes what the host has not read yet, so the last answer would be lost. Wait until
// the host has taken it (two looks 10 ms apart, since a write reaches the queue a moment
// late), at most 2 s, or until stopped.
void SimTarget::Impl::awaitHostRead() {
    SimLine line(pty.master(), stopFd, 0);
    const auto deadline = SimLine::Clock::now() + std::chrono::seconds(2);
    int emptyLooks = 0;
    while (emptyLooks < 2 && SimLine::Clock::now() < deadline) {
        emptyLooks = pty.unreadByHost() == 0 ? emptyLooks + 1 : 0;
        if (!line.sleepUntil(SimLine::Clock::now() + std::chrono::milliseconds(10))) {
            return;
        }
    }
}

void SimTarget::Impl::serveFrames() {
    SimLine line(pty.master(), stopFd, options.baud, options.latencyTimerMs);
    SimFrameParser parser;
    std::vector<uint8_t> bytes;
    for (;;) {
        bytes.clear();
        if (!line.receive(bytes)) {
            return;
        }
        const auto arrival = SimLine::Clock::now();
        for (const uint8_t byte : bytes) {
            if (!line.paceInput(arrival)) {
                return;
            }
            if (auto frame = parser.feed(byte)) {
                if (!handleFrame(line, *frame, parser.rawFrame())) {
                    return;
                }
            }
        }
    }
}

// Returns false when serving is over (stopped, or --once and a transfer has ended).
bool SimTarget::Impl::handleFrame(SimLine& line, const SimFrame& frame,
                                  const std::vector<uint8_t>& raw) {
    log.record(true, raw);
    // The line's echo comes back at once, whatever the target then makes of the frame.
    if (options.echo) {
        log.record(false, raw);
        if (!line.send(raw)) {
            return false;
        }
    }
    SimReply reply;
    {
        std::lock_guard lock(loaderMutex);
        reply = loader.handle(frame);
    }
    if (reply.chunks.empty()) {
        return true;
    }
    if (reply.delayMs != 0 &&
        !line.sleepUntil(SimLine::Clock::now() + std::chrono::milliseconds(reply.delayMs))) {
        return false;
    }
    // The file, the count and the log entry are done before the answer leaves, so whoever
    // has seen the answer finds them complete.
    if (reply.endsTransfer) {
        writeFlashOut();
        transfersEnded.fetch_add(1);
    }
    for (const auto& chunk : reply.chunks) {
        if (chunk.isFrame) {
            log.record(false, chunk.bytes);
        }
        if (!line.send(chunk.bytes)) {
            return false;
        }
    }
    if (reply.endsTransfer && options.once) {
        // Serving ends here: what the adapter still holds must go out first.
        line.flushHeld();
        return false;
    }
    return true;
}

void SimTarget::Impl::writeFlashOut() const {
    if (options.flashOut.empty()) {
        return;
    }
    std::vector<uint8_t> bytes;
    {
        std::lock_guard lock(loaderMutex);
        bytes = loader.flash();
    }
    // Through a temporary and a rename, so a reader never sees half a file.
    const std::string temporary = options.flashOut + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) == 0 && written) {
        std::rename(temporary.c_str(), options.flashOut.c_str());
    } else {
        std::remove(temporary.c_str());
    }
}

SimTarget::SimTarget(SimOptions options) : m_impl(std::make_unique<Impl>(std::move(options))) {}

SimTarget::~SimTarget() { stop(); }

bool SimTarget::start() {
    Impl& impl = *m_impl;
    if (impl.started) {
        return false;
    }
    if (!impl.options.flashIn.empty()) {
        std::vector<uint8_t> bytes;
        std::lock_guard lock(impl.loaderMutex);
        if (!readWholeFile(impl.options.flashIn, bytes) || !impl.loader.preload(bytes)) {
            return false;
        }
    }
    if (!impl.options.logPath.empty() && !impl.log.open(impl.options.logPath)) {
        return false;
    }
    if (!impl.pty.open()) {
        impl.log.close();
        return false;
    }
    impl.portPath = impl.pty.slavePath();
    impl.stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl.stopFd < 0) {
        impl.pty.close();
        impl.log.close();
        return false;
    }
    if (!impl.options.linkPath.empty()) {
        std::error_code error;
        if (std::filesystem::is_symlink(impl.options.linkPath, error)) {
            std::filesystem::remove(impl.options.linkPath, error);
        }
        std::filesystem::create_symlink(impl.portPath, impl.options.linkPath, error);
        if (error) {
            ::close(impl.stopFd);
            impl.stopFd = -1;
            impl.pty.close();
            impl.log.close();
            return false;
        }
        impl.linkMade = impl.options.linkPath;
    }
    impl.started = true;
    impl.finished.store(false);
    impl.thread = std::thread([&impl] { impl.serve(); });
    return true;
}

void SimTarget::stop() {
    Impl& impl = *m_impl;
    if (!impl.started) {
        return;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(impl.stopFd, &one, sizeof one);
    impl.thread.join();
    ::close(impl.stopFd);
    impl.stopFd = -1;
    impl.pty.close();
    if (!impl.linkMade.empty()) {
        std::error_code error;
        std::filesystem::remove(impl.linkMade, error);
        impl.linkMade.clear();
    }
    impl.writeFlashOut();
    impl.log.close();
    impl.started = false;
}

const std::string& SimTarget::portPath() const { return m_impl->portPath; }

std::vector<uint8_t> SimTarget::flash() const {
    std::lock_guard lock(m_impl->loaderMutex);
    return m_impl->loader.flash();
}

std::vector<uint8_t> SimTarget::encrypt(const std::vector<uint8_t>& plain) {
    return simCrypt(plain);
}

std::vector<LoggedFrame> SimTarget::frames() const { return m_impl->log.frames(); }

uint32_t SimTarget::transfersEnded() const { return m_impl->transfersEnded.load(); }

bool SimTarget::finished() const { return m_impl->finished.load(); }

}  // namespace tarnlink::sim
