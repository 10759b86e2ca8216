// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/base/stopsignals.h"

#include <csignal>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

namespace cdimage {

namespace {

volatile std::sig_atomic_t g_signal = 0;

#ifdef _WIN32
// The exit status of a console program ended by Ctrl+C, as Windows gives it.
constexpr UINT kStoppedStatus = 0xC000013A;

// Set once what was half-written is removed; a closing console waits for it.
HANDLE g_cleanedUp = nullptr;

// Ctrl+C and Ctrl+Break ask the work to stop; so does closing the console (or logging off),
// but then the process ends as soon as this returns, so it waits (Windows grants 5 s) for the
// work to remove what it had half-written.
BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        g_signal = SIGINT;
        return TRUE;
    case CTRL_BREAK_EVENT:
        g_signal = SIGBREAK;
        return TRUE;
    default:
        g_signal = SIGTERM;
        ::WaitForSingleObject(g_cleanedUp, 4500);
        return TRUE;
    }
}
#else
extern "C" void remember(int signal) {
    g_signal = signal;
}
#endif

} // namespace

Stopped::Stopped()
    : std::runtime_error("stopped by a signal; what was half-written is removed") {}

void catchStopSignals() {
#ifdef _WIN32
    g_cleanedUp = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    // Without SA_RESTART: a call that blocks (a read from a slow drive) is interrupted, so the
    // stop is seen at once.
    struct sigaction action {};
    action.sa_handler = remember;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

void stopIfAsked() {
    if (g_signal != 0)
        throw Stopped();
}

void endByStopSignal() {
#ifdef _WIN32
    if (g_cleanedUp)
        ::SetEvent(g_cleanedUp);
    ::ExitProcess(kStoppedStatus);
#else
    const int signal = g_signal != 0 ? int(g_signal) : SIGTERM;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
#endif
}

} // namespace cdimage
