// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How the tools' working code tells what went wrong, in three forms and no others:
//
// - A fault that ends a run (an image that cannot be read, a folder that cannot be made, a
//   destination that is taken) is thrown as an Error. Its text says what is wrong and where,
//   whole, so that the front end only has to show it.
// - A check whose caller decides what to do (may this path be read, may a file be put there)
//   returns the reason as a text, or nothing when all is well.
// - What a run survives (a lost sector, an entry that cannot be written) is a value in the
//   result it returns, so that one bad part never costs the rest.
// - A run stopped by the user (SIGINT, SIGTERM, the console's Stop) is no fault: it is thrown as
//   Stopped (stopsignals.h), which every front end lets through to its own exit.
//
// The window's side, which never links this library, keeps the second form as a value too:
// `Outcome` (platform/services.h) is ok, or failed with the system's reason, for every call
// that touches the system; its rules return the reason a text is refused, or nothing.

#include <stdexcept>

namespace cdimage {

struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace cdimage
