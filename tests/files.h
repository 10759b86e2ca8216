// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Files and folders the tests stand on, made in temporary folders.

#include <QString>

namespace velmora::test {

// A file of `size` bytes under `folder` (sparse: nothing is written, so sizes of gigabytes cost
// nothing); its path, in the system's form, or nothing when the file system cannot hold it.
QString tryMakeFile(const QString& folder, const QString& name, qint64 size);
// The same where the file is the test's premise: a file that cannot be made ends the program.
QString makeFile(const QString& folder, const QString& name, qint64 size);
// A folder under `parent`; returns its native path.
QString makeFolder(const QString& parent, const QString& name);

} // namespace velmora::test
