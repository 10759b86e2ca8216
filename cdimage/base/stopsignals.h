// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A tool asked to stop (SIGINT, SIGTERM; on Windows Ctrl+C, Ctrl+Break or its console closed)
// ends its work at the next chunk, so that what it had half-written is removed on the way out,
// then ends by the same signal, as it would have (on Windows with the status of a program
// ended by Ctrl+C, 0xC000013A).

#include <stdexcept>

namespace cdimage {

// Raised where a tool notices that it was asked to stop.
struct Stopped : std::runtime_error {
    Stopped();
};

// Catches the stop signals from now on.
void catchStopSignals();
// Throws Stopped once a stop signal has come.
void stopIfAsked();
// Ends the process by the signal that asked it to stop, after the clean-up is done.
[[noreturn]] void endByStopSignal();

} // namespace cdimage
