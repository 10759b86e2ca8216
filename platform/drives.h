// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace velmora {

// One drive of the drive list: on Windows a drive letter, elsewhere a mounted volume.
struct Volume {
    QString root; // in native form: C:\ or /media/cd
    QString name; // the volume's label, may be empty
};

// The drives the browser offers, and the folder each drive was last shown at. The window owns
// one; the drive list and the directory list share it.
class DriveTable {
public:
    explicit DriveTable(QList<Volume> volumes);
    // The machine's drives: volumes backed by a device, in mount-point order, the volume
    // holding the current folder always among them.
    static DriveTable mounted();

    const QList<Volume>& volumes() const { return m_volumes; }

    // What the drive list shows for a drive: its root, then its label in brackets.
    static QString driveText(const Volume& volume);
    std::optional<Volume> volumeOfDriveText(const QString& text) const;
    // The drive that holds a folder (the longest root that is a prefix on a folder boundary).
    std::optional<Volume> volumeOf(const QString& path) const;
    // Length of the drive root at the start of a path, separator included; 0 if none.
    qsizetype rootLength(const QString& path) const;

    // The folder a drive opens at: the last one shown on it, else its root.
    QString currentFolder(const Volume& volume) const;
    void remember(const QString& folder);

private:
    QStringList roots() const;

    QList<Volume> m_volumes;
    QHash<QString, QString> m_currentFolders; // root -> folder
};

// Native form of a folder: separators of the system, no trailing one but on a root.
QString nativeFolder(const QString& path);

} // namespace velmora
