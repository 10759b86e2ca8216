// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Starts a program detached, handing it each argument as the exact bytes given: the way to pass
// a file name that is not UTF-8, which Qt's own launch would turn into replacement marks.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace velmora {

// Starts `program` with `arguments` in `folder`, in a session of its own and not as a child of
// this process; the system's reason when it cannot start.
std::optional<QString> launchDetached(const QByteArray& program, const QList<QByteArray>& arguments,
                                      const QByteArray& folder);

} // namespace velmora
