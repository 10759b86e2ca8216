// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a tool is given and where it writes, the same on every system: arguments as UTF-8 text,
// and standard output and error taking UTF-8 lines as they are.

#include <string>
#include <vector>

namespace cdimage {

// The arguments after the program's name, as UTF-8. Windows hands `argv` over in the ANSI code
// page, which has no "€" or "日本語"; there they are taken from the wide command line.
std::vector<std::string> programArguments(int argc, char** argv);

// On Windows: standard output and error in binary mode (a line ends "\n", as on Linux), a
// console that shows UTF-8, and a console of the tool's own (one Windows opened for it, as for
// a tool the window starts) kept open at the end until Enter is pressed, so that the result
// can be read. Nothing to do elsewhere.
void prepareStandardStreams();

} // namespace cdimage
