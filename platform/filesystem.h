// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/services.h"

#include <QString>

#include <filesystem>

namespace velmora {

// A path of the system, from a path of the program.
std::filesystem::path fsPath(const QString& path);

// Whether a folder can be listed; the system's reason when it cannot.
Outcome openFolder(const QString& folder);

} // namespace velmora
