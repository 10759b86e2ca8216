// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/drives.h"

#include "platform/pathrules.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace velmora {

namespace {

#ifndef Q_OS_WIN
bool backedByDevice(const QStorageInfo& storage) {
    return storage.device().startsWith('/');
}
#endif

// Windows tells c:\ and C:\ for one drive.
#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity kDriveCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kDriveCase = Qt::CaseSensitive;
#endif

Volume volumeFrom(const QStorageInfo& storage) {
    return {nativeFolder(storage.rootPath()), storage.name()};
}

} // namespace

QString nativeFolder(const QString& path) {
    return QDir::toNativeSeparators(QDir::cleanPath(QDir(path).absolutePath()));
}

DriveTable::DriveTable(QList<Volume> volumes)
    : m_volumes(std::move(volumes)) {
    std::sort(m_volumes.begin(), m_volumes.end(),
              [](const Volume& a, const Volume& b) { return a.root < b.root; });
}

DriveTable DriveTable::mounted() {
    QList<Volume> volumes;
    const auto add = [&volumes](const Volume& volume) {
        const bool listed = std::any_of(volumes.cbegin(), volumes.cend(),
                                        [&](const Volume& v) { return v.root == volume.root; });
        if (!listed)
            volumes.append(volume);
    };
#ifdef Q_OS_WIN
    // Every drive letter, a CD drive without a disc too: a disc put in later is then found.
    const DWORD letters = ::GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(letters & (1u << i)))
            continue;
        const QString root = QChar(u'A' + i) + u":\\"_qs;
        const QStorageInfo storage(root);
        add({root, storage.isReady() ? storage.name() : QString()});
    }
#else
    for (const QStorageInfo& storage : QStorageInfo::mountedVolumes()) {
        if (storage.isValid() && storage.isReady() && backedByDevice(storage))
            add(volumeFrom(storage));
    }
    add(volumeFrom(QStorageInfo::root()));
#endif
    add(volumeFrom(QStorageInfo(QDir::current())));
    return DriveTable(std::move(volumes));
}

QString DriveTable::driveText(const Volume& volume) {
#ifdef Q_OS_WIN
    QString text = volume.root.left(2).toLower();
#else
    QString text = volume.root;
#endif
    if (!volume.name.isEmpty())
        text += u" [" + volume.name + u']';
    return text;
}

std::optional<Volume> DriveTable::volumeOfDriveText(const QString& text) const {
    for (const Volume& volume : m_volumes) {
        if (driveText(volume) == text)
            return volume;
    }
    return std::nullopt;
}

std::optional<Volume> DriveTable::volumeOf(const QString& path) const {
    const QString root = rootHolding(path, roots(), QDir::separator(), kDriveCase);
    for (const Volume& volume : m_volumes) {
        if (volume.root == root)
            return volume;
    }
    return std::nullopt;
}

qsizetype DriveTable::rootLength(const QString& path) const {
#ifdef Q_OS_WIN
    // A drive of the list (letters in either case), else the path's own root: a drive letter
    // the list lacks, or a network share.
    if (const qsizetype listed = driveRootLength(path, roots(), QDir::separator(), kDriveCase))
        return listed;
    return windowsRootLength(path);
#else
    return driveRootLength(path, roots(), QDir::separator());
#endif
}

QString DriveTable::currentFolder(const Volume& volume) const {
    return m_currentFolders.value(volume.root, volume.root);
}

void DriveTable::remember(const QString& folder) {
    if (const auto volume = volumeOf(folder))
        m_currentFolders.insert(volume->root, folder);
}

QStringList DriveTable::roots() const {
    QStringList list;
    for (const Volume& volume : m_volumes)
        list.append(volume.root);
    return list;
}

} // namespace velmora
