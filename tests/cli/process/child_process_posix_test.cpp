#include "cli/process/child_process.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/cli/process/child_output.h"

namespace tarnlink {
namespace {

using test::readAll;

std::unique_ptr<ChildProcess> shell(const std::string& script) {
    std::string error;
    auto child = ChildProcess::start({"/bin/sh", "-c", script}, &error);
    EXPECT_TRUE(child) << error;
    return child;
}

TEST(ChildProcessTest, OutputErrorsAndExitStatusArriveApart) {
    auto child = shell("echo out; echo err >&2; exit 3");
    EXPECT_EQ(readAll(*child, false), "out\n");
    EXPECT_EQ(readAll(*child, true), "err\n");
    const ChildExit exit = child->wait();
    EXPECT_TRUE(exit.exited);
    EXPECT_EQ(exit.code, 3);
    EXPECT_EQ(exit.describe(), "exit status 3");
}

TEST(ChildProcessTest, InputReachesTheChildAndItsEndIsSeen) {
    auto child = shell("read line; echo \"got $line\"; cat; echo end");
    EXPECT_TRUE(child->writeInput("cancel\n"));
    child->closeInput();
    EXPECT_EQ(readAll(*child, false), "got cancel\nend\n");
    EXPECT_EQ(child->wait().code, 0);
    EXPECT_FALSE(child->writeInput("late\n"));
}

TEST(ChildProcessTest, KillEndsItAndWritingToTheDeadChildFailsQuietly) {
    auto child = shell("exec sleep 30");
    const auto start = std::chrono::steady_clock::now();
    child->kill();
    const ChildExit exit = child->wait();
    EXPECT_FALSE(exit.exited);
    EXPECT_EQ(exit.signal, SIGKILL);
    EXPECT_NE(exit.describe().find("killed by signal 9"), std::string::npos) << exit.describe();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(readAll(*child, false), "");
    // No SIGPIPE ends this process: the write just fails.
    EXPECT_FALSE(child->writeInput(std::string(100000, 'x')));
    child->kill();  // reaped already: nothing happens
}

TEST(ChildProcessTest, RunsInAProcessGroupOfItsOwn) {
    // The terminal's Ctrl-C goes to the foreground group; a child in its own group is
    // stopped by its station, which waits for its result, not by the keyboard.
    auto child = shell("cut -d' ' -f5 /proc/$$/stat");
    const std::string group = readAll(*child, false);
    EXPECT_EQ(std::stol(group), child->id());
    EXPECT_NE(std::stol(group), static_cast<long>(::getpgrp()));
    child->wait();
}

TEST(ChildProcessTest, NoChildHoldsItsOwnOrAnothersPipesOpen) {
    auto first = shell("exec cat");
    auto second = shell("exec sleep 5");
    // A pipe end left open in a child (its own input's write end, or that of `first` in
    // `second`) would keep `cat` waiting for more; then the guard kills it.
    std::atomic<bool> done{false};
    std::thread guard([&] {
        for (int i = 0; i < 300 && !done.load(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        first->kill();
    });
    EXPECT_TRUE(first->writeInput("x\n"));
    first->closeInput();
    EXPECT_EQ(readAll(*first, false), "x\n");
    done.store(true);
    guard.join();
    const ChildExit exit = first->wait();
    EXPECT_TRUE(exit.exited) << exit.describe();  // `cat` saw the end of its input
    second->kill();
    second->wait();
}

TEST(ChildProcessTest, AProgramThatIsNotThereSaysSo) {
    std::string error;
    EXPECT_FALSE(ChildProcess::start({"/no/such/program"}, &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(ChildProcess::start({}, &error));
    EXPECT_NE(currentExecutablePath().find("cli_process_test"), std::string::npos);
}

}  // namespace
}  // namespace tarnlink
