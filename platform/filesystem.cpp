// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/filesystem.h"

#include "platform/filenamecodec.h"

#include <QDir>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

#include <system_error>

namespace velmora {

std::filesystem::path fsPath(const QString& path) {
#ifdef Q_OS_WIN
    // Past MAX_PATH (260) a whole path is reached only in its \\?\ form.
    QString native = QDir::toNativeSeparators(path);
    if (native.size() >= 248 && !native.startsWith(u"\\\\?\\")) {
        if (native.startsWith(u"\\\\"))
            native = u"\\\\?\\UNC\\" + native.mid(2);
        else if (native.size() > 2 && native.at(1) == u':')
            native = u"\\\\?\\" + QDir::toNativeSeparators(QDir::cleanPath(path));
    }
    return std::filesystem::path(native.toStdWString());
#else
    return std::filesystem::path(encodeFileName(path).toStdString());
#endif
}

Outcome openFolder(const QString& folder) {
#ifdef Q_OS_WIN
    // msvcrt's directory calls, under std::filesystem, take no \\?\ path: the system's own do.
    const std::wstring pattern = (fsPath(folder) / L"*").wstring();
    WIN32_FIND_DATAW found;
    HANDLE listing = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                        FindExSearchNameMatch, nullptr, 0);
    if (listing == INVALID_HANDLE_VALUE)
        return Outcome::failure(qt_error_string(int(::GetLastError())));
    ::FindClose(listing);
    return Outcome::success();
#else
    std::error_code error;
    const std::filesystem::directory_iterator listing(fsPath(folder), error);
    if (error)
        return Outcome::failure(QString::fromLocal8Bit(error.message()));
    return Outcome::success();
#endif
}

} // namespace velmora
