// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A tool asked to stop (SIGINT, SIGTERM) ends its work at the next chunk, so that what it had
// half-written is removed on the way out, then ends by the same signal, as it would have.

#include <stdexcept>

namespace cdimage {

// Raised where a tool notices that it was asked to stop.
struct Stopped : std::runtime_error {
    Stopped();
};

// Catches SIGINT and SIGTERM from now on.
void catchStopSignals();
// Throws Stopped once a stop signal has come.
void stopIfAsked();
// Ends the process by the signal that asked it to stop, after the clean-up is done.
[[noreturn]] void endByStopSignal();

} // namespace cdimage
