// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Texts of the image build, the extraction and the tool pickers.

#include <QString>

namespace velmora::texts {

inline const QString kVolumeMissing =
    QStringLiteral("CD Volume Name not defined / Nom du CD pas définit");
inline const QString kImageMissing =
    QStringLiteral("CD Image Name not defined / Nom de l'image CD pas définit");
inline const QString kFilesMissing =
    QStringLiteral("Files not defined / Fichier Source non définit");
inline const QString kStoragePathMissing =
    QStringLiteral("Storage path not defined / Répertoire destination non définit");
inline const QString kExtractionPathMissing =
    QStringLiteral("CD Image storage path not defined / Répertoire destination non définit");

// The tools as the system names its programs, so the command line shown runs as it stands.
#ifdef Q_OS_WIN
inline const QString kDefaultImageTool = QStringLiteral("velmora_tolk.exe");
inline const QString kDefaultExtractionTool = QStringLiteral("dat2file.exe");
#else
inline const QString kDefaultImageTool = QStringLiteral("velmora_tolk");
inline const QString kDefaultExtractionTool = QStringLiteral("dat2file");
#endif
inline const QString kExecutableFilter = QStringLiteral("Executable(*.exe)|*.exe");

// A double quote in an input would cut its argument short on the command line.
inline const QString kDoubleQuoteIn = QStringLiteral(
    "A double quote (\") cannot stand in a name or a path / Un guillemet (\") ne peut pas figurer "
    "dans un nom ou un chemin :");
inline const QString kInVolume = QStringLiteral("CD Volume Name / Nom du CD");
inline const QString kInImage = QStringLiteral("CD Image Name / Nom image CD");
inline const QString kInStoragePath =
    QStringLiteral("Path to store CD image / files extracted (Chemin de stockage)");
inline const QString kInImageTool = QStringLiteral("Velmora_Tolk");
inline const QString kInExtractionTool = QStringLiteral("Dat2File");
inline const QString kInEntry =
    QStringLiteral("List of files / Liste de fichiers, entry / entrée %1");

inline const QString kEntryTooShort = QStringLiteral(
    "This entry is too short to be extracted; it is skipped / Cette entrée est trop courte pour "
    "être extraite ; elle est passée :");

inline const QString kCannotChangeFolder = QStringLiteral(
    "Cannot make the storage path the current folder / Impossible de rendre le répertoire de "
    "stockage courant :");
inline const QString kCannotStart =
    QStringLiteral("Cannot start the program / Impossible de lancer le programme :");

} // namespace velmora::texts
