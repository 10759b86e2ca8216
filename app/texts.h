// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window's own texts, character for character.

#include <QString>

namespace velmora::texts {

inline const QString kApplicationTitle = QStringLiteral("Velmora GUI");
inline const QString kFormCaption = QStringLiteral("Velmora GUI v0.2a - TOLK");

// Captions
inline const QString kCommand1 = QStringLiteral("CD Image build");
inline const QString kExtraire = QStringLiteral("Extract files from CD");
inline const QString kLabel3 = QStringLiteral("CD Volume Name :");
inline const QString kLabel4 = QStringLiteral("Nom du CD :");
inline const QString kLabel7 = QStringLiteral("CD Image Name :");
inline const QString kLabel6 = QStringLiteral("Nom image CD :");
inline const QString kCheck1 = QStringLiteral("Path to store CD image / files extracted");
inline const QString kLabel5 =
    QStringLiteral("Chemin de l'image CD à stocker / fichiers à extraire");
inline const QString kLabel1 =
    QStringLiteral("List of files inserted in the CD image / extracted from CD");
inline const QString kLabel2 =
    QStringLiteral("Liste de fichiers à insérer dans l'image CD / extraire du CD");
inline const QString kLocation1 = QStringLiteral("Velmora_Tolk");
inline const QString kLocation2 = QStringLiteral("Dat2File");
inline const QString kDefaultName = QStringLiteral("Kestrel");

// Tooltips
inline const QString kFile1Tip =
    QStringLiteral("Double clicks to insert the file / double clicks pour insérer le fichier");
inline const QString kCommand1Tip = QStringLiteral("This wil use Brannock");
inline const QString kNameTip = QStringLiteral("Enter the name for the CD / entrer le nom du CD");
inline const QString kList1Tip =
    QStringLiteral("Double clcik to remove files / double clicks pour enlever le fichier");
inline const QString kCheck1Tip = QStringLiteral(
    "Check the box and choose the directory  (Double click in the directory box to select)");
inline const QString kText3Tip =
    QStringLiteral("Enter Path where the Image CD will be stored / files to be extrated (or Check "
                   "the box above and double click in the directory box to select)");
inline const QString kExtraireTip = QStringLiteral("This will use Dat2file");

// Names a screen reader gives the browser's lists, which have no caption of their own.
inline const QString kDrive1Name = QStringLiteral("Drive / Lecteur");
// What a click in a tool box does, for those who cannot see it.
inline const QString kToolBoxHint =
    QStringLiteral("A click opens the file dialog to choose the program; a path may also be typed "
                   "/ Un clic ouvre la boîte de dialogue pour choisir le programme ; un chemin "
                   "peut aussi être tapé");
inline const QString kDir1Name = QStringLiteral("Folder / Répertoire");
inline const QString kFile1Name = QStringLiteral("Files / Fichiers");

// The warning shown at every start.
inline const QString kWarningHeading = QStringLiteral("Attention !!!");
inline const QString kWarningBreak = QStringLiteral("\r\r\n");
inline const QString kWarningFrench = QStringLiteral(
    "N'utilizez pas ce programme pour stocker vos données. Velmora n'a pas de correction "
    "d'erreur ! Toute erreur sur le CD rend inutilisable les fichiers stockés !");
inline const QString kWarningEnglish = QStringLiteral(
    "Do not use this program to store your data. Velmora has no error correction, so an error on "
    "the CD make the files stored unusable !");

} // namespace velmora::texts
