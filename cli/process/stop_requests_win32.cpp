#include <windows.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cli/process/cancel_lines.h"
#include "cli/process/stop_requests.h"

namespace tarnlink {

namespace {

// The console's handler runs on a thread the system starts for each event; it only counts
// the event and wakes the watcher thread, which does the rest.
std::atomic<int> s_interrupts{0};
std::atomic<int> s_terminates{0};
std::atomic<bool> s_ignoreInterrupts{false};

// Made once and kept for the life of the process: a handler thread may still hold it when
// a watcher goes.
HANDLE wakeEvent() {
    static const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event;
}

BOOL WINAPI onConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            // A station's board: Ctrl-C and Ctrl-Break of the console reach every process
            // on it, but the station decides for its boards and tells them on their input.
            if (!s_ignoreInterrupts.load()) {
                s_interrupts.fetch_add(1);
                SetEvent(wakeEvent());
            }
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            s_terminates.fetch_add(1);
            SetEvent(wakeEvent());
            // The system ends the process when this returns (or after about 5 s): until
            // then the transfer has time to cancel and leave the target at rest. Normally
            // the process ends on its own before.
            Sleep(4500);
            return TRUE;
        default:
            return FALSE;
    }
}

// The reader of standard input lives on in a thread that a blocked read may keep past the
// watcher: what it shares with the watcher is held by both.
struct InputState {
    std::mutex mutex;
    bool stopped = false;  // guarded by mutex
    std::function<void(StopRequest)> callback;

    void request() {
        std::lock_guard lock(mutex);
        if (!stopped) {
            callback(StopRequest::INPUT);
        }
    }
};

DWORD WINAPI readInput(void* parameter) {
    const std::shared_ptr<InputState> state(
        std::move(*static_cast<std::shared_ptr<InputState>*>(parameter)));
    delete static_cast<std::shared_ptr<InputState>*>(parameter);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    for (;;) {
        char chunk[256];
        DWORD got = 0;
        if (!ReadFile(input, chunk, sizeof chunk, &got, nullptr) || got == 0) {
            // The end, a broken pipe, or the watcher's CancelSynchronousIo (then stopped).
            state->request();
            return 0;
        }
        pending.append(chunk, got);
        for (int cancels = takeCancelLines(pending); cancels > 0; --cancels) {
            state->request();
        }
    }
}

}  // namespace

struct StopWatcher::Impl {
    std::function<void(StopRequest)> callback;
    HANDLE quit = nullptr;
    std::thread thread;
    std::shared_ptr<InputState> input;
    HANDLE inputThread = nullptr;

    void run();
};

void StopWatcher::Impl::run() {
    const HANDLE events[2] = {quit, wakeEvent()};
    for (;;) {
        const DWORD which = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (which != WAIT_OBJECT_0 + 1) {
            return;
        }
        for (int n = s_terminates.exchange(0); n > 0; --n) {
            callback(StopRequest::TERMINATE);
        }
        for (int n = s_interrupts.exchange(0); n > 0; --n) {
            callback(StopRequest::INTERRUPT);
        }
    }
}

StopWatcher::StopWatcher(std::function<void(StopRequest)> callback, bool watchInput)
    : m_impl(std::make_unique<Impl>()) {
    Impl& impl = *m_impl;
    impl.callback = std::move(callback);
    impl.quit = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    s_interrupts.store(0);
    s_terminates.store(0);
    s_ignoreInterrupts.store(watchInput);
    if (!watchInput) {
        // A program started in a process group of its own has Ctrl-C turned off: on again.
        SetConsoleCtrlHandler(nullptr, FALSE);
    }
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    impl.thread = std::thread([&impl] { impl.run(); });
    if (watchInput) {
        impl.input = std::make_shared<InputState>();
        impl.input->callback = impl.callback;
        auto* parameter = new std::shared_ptr<InputState>(impl.input);
        impl.inputThread = CreateThread(nullptr, 0, readInput, parameter, 0, nullptr);
        if (impl.inputThread == nullptr) {
            delete parameter;
        }
    }
}

StopWatcher::~StopWatcher() {
    Impl& impl = *m_impl;
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    SetEvent(impl.quit);
    impl.thread.join();
    CloseHandle(impl.quit);
    if (impl.input) {
        {
            std::lock_guard lock(impl.input->mutex);
            impl.input->stopped = true;
        }
        // A read that waits for the station is called off; should the system not do
        // that, the thread is left to end with the process, and calls nobody.
        for (int tries = 0; impl.inputThread != nullptr && tries < 20; ++tries) {
            CancelSynchronousIo(impl.inputThread);
            if (WaitForSingleObject(impl.inputThread, 50) == WAIT_OBJECT_0) {
                break;
            }
        }
        if (impl.inputThread != nullptr) {
            CloseHandle(impl.inputThread);
        }
    }
}

namespace {

DWORD WINAPI writeNote(void* text) {
    DWORD written = 0;
    const char* note = static_cast<const char*>(text);
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), note, static_cast<DWORD>(std::strlen(note)), &written,
              nullptr);
    return 0;
}

}  // namespace

void quitAtOnce(StopRequest, const char* text) {
    // The note goes out only if stderr takes it soon: a full pipe that nobody reads (a
    // worker may already be stuck writing into it) must not hold up the quit.
    const HANDLE writer = CreateThread(nullptr, 0, writeNote, const_cast<char*>(text), 0, nullptr);
    if (writer != nullptr) {
        WaitForSingleObject(writer, 500);
        CloseHandle(writer);
    }
    // The status of a console program that Ctrl-C (or the console's close) ended, as a
    // calling shell knows it; nothing of this process runs on.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace tarnlink
