// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace velmora {

// Creates the application and its window, raises Load, shows the window and delivers events
// until the window closes. Returns the program's exit status.
int runApplication(int& argc, char** argv);

} // namespace velmora
