// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

namespace velmora {

// Splits a command line into its arguments: blanks separate arguments outside double quotes;
// a double quote opens or closes a quoted run and is dropped; every other character, the
// backslash included, stands for itself. `""` is an empty argument.
QStringList splitCommandLine(const QString& commandLine);

} // namespace velmora
