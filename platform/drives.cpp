// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/drives.h"

#include "platform/driveroot.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace velmora {

namespace {

bool backedByDevice(const QStorageInfo& storage) {
#ifdef Q_OS_WIN
    Q_UNUSED(storage);
    return true;
#else
    return storage.device().startsWith('/');
#endif
}

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
    for (const QStorageInfo& storage : QStorageInfo::mountedVolumes()) {
        if (storage.isValid() && storage.isReady() && backedByDevice(storage))
            volumes.append(volumeFrom(storage));
    }
    const auto add = [&volumes](const QStorageInfo& storage) {
        const Volume volume = volumeFrom(storage);
        const bool listed = std::any_of(volumes.cbegin(), volumes.cend(),
                                        [&](const Volume& v) { return v.root == volume.root; });
        if (!listed)
            volumes.append(volume);
    };
    add(QStorageInfo(QDir::current()));
#ifndef Q_OS_WIN
    add(QStorageInfo::root());
#endif
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
    const QString root = rootHolding(path, roots(), QDir::separator());
    for (const Volume& volume : m_volumes) {
        if (volume.root == root)
            return volume;
    }
    return std::nullopt;
}

qsizetype DriveTable::rootLength(const QString& path) const {
#ifdef Q_OS_WIN
    return path.size() >= 3 ? 3 : 0; // the drive letter, its colon and the backslash
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
