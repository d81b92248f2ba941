// tarnlink-sim: a simulated boot loader on a pseudo-terminal. Prints the port path as the
// first line of its output, then serves until SIGINT/SIGTERM or, with --once, until one
// transfer has ended.

#include <CLI/CLI.hpp>

#include <signal.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <string>

#include "sim/sim_target.h"

namespace {

void addOptions(CLI::App& app, tarnlink::sim::SimOptions& o) {
    app.add_flag("--answer-probe", o.answerProbe, "answer CMD_PROBE with 0x90");
    app.add_flag("--silent", o.silent, "never answer anything");
    app.add_option("--ignore-handshakes", o.ignoreHandshakes,
                   "leave the first N handshakes unanswered");
    app.add_option("--refuse-write", o.refuseWrite,
                   "answer write request K (counted among writes) with status 1");
    app.add_option("--corrupt-block", o.corruptBlock,
                   "every read-back of block K-1 (address 16*(K-1)) has one byte changed");
    app.add_option("--fail-read", o.failRead,
                   "answer read request K (counted among reads) with status 1");
    app.add_option("--bad-fcs-response", o.badFcsResponse,
                   "send answer frame K (counted among answers) with a wrong FCS");
    app.add_option("--drop-response", o.dropResponse,
                   "do not send answer frame K (counted among answers)");
    app.add_option("--duplicate-request", o.duplicateRequest,
                   "answer request K (counted among all good frames) twice");
    app.add_flag("--answer-twice", o.answerTwice, "answer every request twice");
    app.add_flag("--echo", o.echo, "send every good frame back as it came, before its answer");
    app.add_option("--store-wrong", o.storeWrong,
                   "acknowledge write K (counted among writes) but store one byte changed");
    static const std::map<std::string, uint8_t> kinds = {
        {"handshake", 0x04}, {"write", 0x01}, {"read", 0x02}, {"enable", 0x03}, {"crypt", 0x20}};
    app.add_option_function<std::string>(
           "--mute", [&o](const std::string& kind) { o.muteCommand = kinds.at(kind); },
           "leave every request of KIND unanswered and unacted on")
        ->check(CLI::IsMember(kinds))
        ->type_name("KIND");
    app.add_option("--wrong-address-read", o.wrongAddressRead,
                   "answer read request K with the address 16 higher");
    app.add_flag("--noise", o.noise, "1 to 8 random non-0xFE bytes before every answer");
    app.add_option("--delay-ms", o.delayMs, "delay every answer by D ms");
    app.add_option("--jitter-ms", o.jitterMs,
                   "delay every answer by a further random 0..J ms (from the seed)");
    app.add_flag("--refuse-crypt", o.refuseCrypt, "answer CMD_CRYPT with status 1");
    app.add_option("--stop-after", o.stopAfterFrames,
                   "leave every good frame after the first N unanswered");
    app.add_option("--baud", o.baud, "pace input and output at B baud, 10 bits a byte");
    app.add_option("--latency-timer", o.latencyTimerMs,
                   "hold answers like a USB adapter: until MS ms have passed or 62 bytes wait");
    app.add_option("--seed", o.seed, "seed of every random choice: noise, changed byte, jitter");
    app.add_flag("--once", o.once, "end after one transfer has ended");
    app.add_option("--link", o.linkPath, "also make a symlink to the port here");
    app.add_option("--log", o.logPath, "log every frame: '<monotonic us> <in|out> FE ..'");
    app.add_option("--flash-in", o.flashIn, "preload the flash from this file");
    app.add_option("--flash-out", o.flashOut,
                   "write the flash up to the last written block here when a transfer ends");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated boot loader on a pseudo-terminal", "tarnlink-sim"};
    app.set_version_flag("--version", "tarnlink-sim " TARNLINK_VERSION,
                         "print the version and exit");
    tarnlink::sim::SimOptions options;
    addOptions(app, options);
    CLI11_PARSE(app, argc, argv);

    // Blocked before the serving thread starts, so only this thread ever takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    tarnlink::sim::SimTarget target(options);
    if (!target.start()) {
        std::fprintf(stderr, "tarnlink-sim: cannot start (pseudo-terminal, --link, --log or "
                             "--flash-in)\n");
        return 1;
    }
    std::printf("%s\n", target.portPath().c_str());
    std::fflush(stdout);

    const timespec tick{0, 20'000'000};
    for (;;) {
        if (sigtimedwait(&signals, nullptr, &tick) > 0) {
            break;
        }
        if (target.finished()) {
            break;
        }
    }
    target.stop();
    return 0;
}
