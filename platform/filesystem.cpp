// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/filesystem.h"

#include "platform/filenamecodec.h"

#include <system_error>

namespace velmora {

std::filesystem::path fsPath(const QString& path) {
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(encodeFileName(path).toStdString());
#endif
}

Outcome openFolder(const QString& folder) {
    std::error_code error;
    const std::filesystem::directory_iterator listing(fsPath(folder), error);
    if (error)
        return Outcome::failure(QString::fromLocal8Bit(error.message()));
    return Outcome::success();
}

} // namespace velmora
