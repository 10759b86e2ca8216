// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/stopsignals.h"

#include <csignal>
#include <cstdlib>

namespace cdimage {

namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void remember(int signal) {
    g_signal = signal;
}

} // namespace

Stopped::Stopped()
    : std::runtime_error("stopped by a signal; what was half-written is removed") {}

void catchStopSignals() {
#ifdef _WIN32
    std::signal(SIGINT, remember);
    std::signal(SIGTERM, remember);
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
    const int signal = g_signal != 0 ? int(g_signal) : SIGTERM;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

} // namespace cdimage
