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
    std::signal(SIGINT, remember);
    std::signal(SIGTERM, remember);
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
