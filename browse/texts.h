// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Texts of the folder browser and the source list.

#include <QString>

namespace velmora::texts {

inline const QString kFileTooSmall = QStringLiteral("Taille fichier < 400 Ko");

inline const QString kCannotOpenDrive =
    QStringLiteral("Cannot open this drive / Impossible d'ouvrir ce lecteur :");
inline const QString kCannotOpenFolder =
    QStringLiteral("Cannot open this folder / Impossible d'ouvrir ce répertoire :");
inline const QString kCannotReadSize = QStringLiteral(
    "Cannot read the size of this file / Impossible de lire la taille de ce fichier :");

} // namespace velmora::texts
