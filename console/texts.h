#pragma once

// Texts of the console window, in English and French like the rest of the program.

#include <QString>

namespace velmora::console::texts {

inline const QString kTitle = QStringLiteral("%1 — %2");
inline const QString kCommandLineName = QStringLiteral("Command line / Ligne de commande");
inline const QString kOutputName = QStringLiteral("Output of the tool / Sortie de l'outil");
inline const QString kProgressName = QStringLiteral("Progress / Avancement");
inline const QString kStatusName = QStringLiteral("Status / État");
inline const QString kLastErrorName = QStringLiteral("Last error / Dernière erreur");
inline const QString kStop = QStringLiteral("Stop / Arrêter");
inline const QString kClose = QStringLiteral("Close / Fermer");

inline const QString kRunning = QStringLiteral("%1 is running… / %1 est en cours…");
inline const QString kStopping = QStringLiteral("Stopping %1… / Arrêt de %1…");
inline const QString kSucceeded =
    QStringLiteral("Done: %1 ended successfully (exit status 0). / Terminé : %1 s'est terminé "
                   "avec succès (code 0).");
inline const QString kFailed = QStringLiteral(
    "Failed: %1 ended with exit status %2. / Échec : %1 s'est terminé avec le code %2.");
inline const QString kKilled = QStringLiteral(
    "Failed: %1 was ended by signal %2 (%3). / Échec : %1 a été arrêté par le signal %2 (%3).");
inline const QString kNotStarted =
    QStringLiteral("Failed: %1 could not be started: %2 / Échec : %1 n'a pas pu être lancé : %2");

inline const QString kConfirmTitle = QStringLiteral("Velmora GUI");
inline const QString kConfirmStop = QStringLiteral(
    "Stop %1? What it has half-written is removed. / Arrêter %1 ? Ce qu'il a écrit en partie "
    "est effacé.");

inline const QString kUsage =
    QStringLiteral("usage: velmora_console PROGRAM [ARGUMENT...]\n"
                   "       velmora_console --help\n"
                   "Runs PROGRAM in the current folder and shows its output, progress and result "
                   "in a window.\n");

} // namespace velmora::console::texts
