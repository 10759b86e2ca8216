// SPDX-License-Identifier: GPL-3.0-or-later
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

inline const QString kTitleOfMany = QStringLiteral("Velmora GUI — %1 tools / %1 outils");
inline const QString kToolsName = QStringLiteral("Tools / Outils");
inline const QString kToolColumn = QStringLiteral("Tool / Outil");
inline const QString kProgressColumn = QStringLiteral("Progress / Avancement");
inline const QString kStateColumn = QStringLiteral("State / État");
inline const QString kStartedColumn = QStringLiteral("Started / Lancé à");

// A row's state, short.
inline const QString kRowStarting = QStringLiteral("Starting / Démarrage");
inline const QString kRowRunning = QStringLiteral("Running / En cours");
inline const QString kRowStopping = QStringLiteral("Stopping / Arrêt en cours");
inline const QString kRowDone = QStringLiteral("Done / Terminé");
inline const QString kRowRepaired =
    QStringLiteral("Repaired, %1 sectors rebuilt / Réparé, %1 secteurs reconstruits");
inline const QString kRowWarned = QStringLiteral("Done, with a warning / Terminé, avec un "
                                                 "avertissement");
inline const QString kRowRepairable = QStringLiteral("Checked: repairable / Vérifié : réparable");
inline const QString kRowDegraded =
    QStringLiteral("Checked: repair data degraded / Vérifié : données de réparation dégradées");
inline const QString kRowFailed = QStringLiteral("Failed, exit status %1 / Échec, code %1");
inline const QString kRowEndedBySignal = QStringLiteral("Failed, %1 / Échec, %1");
inline const QString kRowNotStarted = QStringLiteral("Failed to start / Lancement impossible");
inline const QString kRowStopped = QStringLiteral("Stopped by you / Arrêté à votre demande");

inline const QString kQueued = QStringLiteral("%1 is about to start… / %1 va démarrer…");
inline const QString kStoppedBeforeStart = QStringLiteral(
    "Stopped by you: %1 was not started. / Arrêté à votre demande : %1 n'a pas été lancé.");
inline const QString kStoppedByYou = QStringLiteral(
    "Stopped by you: %1 was ended before it was done. / Arrêté à votre demande : %1 a été "
    "interrompu avant la fin.");
inline const QString kRunning = QStringLiteral("%1 is running… / %1 est en cours…");
inline const QString kDoesNotStop = QStringLiteral(
    "%1 has not stopped: press Stop again to end it at once. / %1 ne s'est pas arrêté : "
    "appuyez à nouveau sur Arrêter pour l'interrompre tout de suite.");
inline const QString kStopping = QStringLiteral("Stopping %1… / Arrêt de %1…");
inline const QString kSucceeded =
    QStringLiteral("Done: %1 ended successfully (exit status 0). / Terminé : %1 s'est terminé "
                   "avec succès (code 0).");
inline const QString kWarned = QStringLiteral(
    "Done, but know this first: %1 (%2 ended with status 0) / Terminé, mais sachez d'abord "
    "ceci : %1 (%2 s'est terminé avec le code 0)");
inline const QString kCheckedRepairable = QStringLiteral(
    "Checked: every file can still be given back whole, some only through the disc's repair data "
    "(%1 exit status 4). Make a new copy now, while it still can be. / Vérifié : chaque fichier "
    "peut encore être rendu entier, certains seulement grâce aux données de réparation du disque "
    "(%1, code 4). Faites-en une nouvelle copie maintenant, tant que c'est possible.");
inline const QString kCheckedDegraded = QStringLiteral(
    "Checked: the files are whole, but the disc's repair data is degraded and will not rebuild "
    "all it should (%1 exit status 5). Make a new copy now. / Vérifié : les fichiers sont "
    "entiers, mais les données de réparation du disque sont dégradées et ne reconstruiront pas "
    "tout ce qu'elles devraient (%1, code 5). Faites-en une nouvelle copie maintenant.");
inline const QString kRepaired = QStringLiteral(
    "Repaired: %1 rebuilt %2 sectors the disc no longer gives, from its repair data (%3every "
    "file is whole). Make a new copy now, while it still can be. / Réparé : %1 a reconstruit %2 "
    "secteurs que le disque ne donne plus, grâce à ses données de réparation (%3chaque fichier "
    "est entier). Faites-en une nouvelle copie maintenant, tant que c'est possible.");
inline const QString kEndedBeforeAnswer = QStringLiteral(
    "(The tools ended before you answered: there was nothing left to stop. / Les outils se sont "
    "terminés avant votre réponse : il n'y avait plus rien à arrêter.)");
inline const QString kFailed = QStringLiteral(
    "Failed: %1 ended with exit status %2. / Échec : %1 s'est terminé avec le code %2.");
inline const QString kKilled = QStringLiteral(
    "Failed: %1 was ended by signal %2 (%3). / Échec : %1 a été arrêté par le signal %2 (%3).");
inline const QString kNotStarted =
    QStringLiteral("Failed: %1 could not be started: %2 / Échec : %1 n'a pas pu être lancé : %2");

inline const QString kDropped = QStringLiteral(
    "%1 earlier lines are not shown here; \"Save output\" keeps every line. / %1 lignes "
    "précédentes ne sont plus affichées ; « Enregistrer la sortie » les garde toutes.");
inline const QString kCheckImage = QStringLiteral("Check image / Vérifier l'image");
inline const QString kCheckSource = QStringLiteral("Check / Vérifier");
inline const QString kOpenFolder = QStringLiteral("Open folder / Ouvrir le dossier");
inline const QString kHealthName = QStringLiteral("Disc health / Santé du disque");
inline const QString kHealthShort = QStringLiteral(
    "Disc health: %1 of %2 spare sectors left / Santé du disque : %1 secteurs de réserve sur %2");
inline const QString kHealth = QStringLiteral(
    "Disc health: the worst code word lost %1 of the %2 sectors it can lose / Santé du disque : "
    "le pire mot de code a perdu %1 des %2 secteurs qu'il peut perdre");
inline const QString kSaveOutput = QStringLiteral("Save output… / Enregistrer la sortie…");
inline const QString kSaveTitle = QStringLiteral("Save output / Enregistrer la sortie");
inline const QString kNoSavedOutput = QStringLiteral(
    "the output could not be kept on disk / la sortie n'a pas pu être gardée sur le disque");
// One notification for tools that ended together while the user was elsewhere: how many of
// each end, then the ones that did not end well.
inline const QString kBatchExtractions = QStringLiteral("%1 extractions / %1 extractions");
inline const QString kBatchBuilds = QStringLiteral("%1 image builds / %1 constructions d'image");
inline const QString kBatchTools = QStringLiteral("%1 tools / %1 outils");
inline const QString kBatchEnds = QStringLiteral(
    "%1 done, %2 repaired, %3 failed, %4 stopped, %5 with a warning / %1 terminés, %2 réparés, "
    "%3 en échec, %4 arrêtés, %5 avec un avertissement");
inline const QString kBatchMore = QStringLiteral("… and %1 more / … et %1 de plus");
inline const QString kShow = QStringLiteral("Show / Afficher");
inline const QString kSpoolLetGo = QStringLiteral(
    "its output was let go to keep the window's saved output within %1 MiB, the oldest tools' "
    "first / sa sortie a été abandonnée pour garder la sortie gardée par la fenêtre sous %1 Mio, "
    "celle des outils les plus anciens d'abord");
inline const QString kSpoolsLetGo = QStringLiteral(
    "The saved output of %1 was let go to keep the window's within %2 MiB. / La sortie gardée "
    "de %1 a été abandonnée pour garder celle de la fenêtre sous %2 Mio.");
inline const QString kSavedLeftOut = QStringLiteral(
    "[velmora_console: the first %1 bytes of the output were left out; the last %2 bytes follow. "
    "/ les %1 premiers octets de la sortie ont été omis ; les %2 derniers suivent.]\n");
inline const QString kSavedAs = QStringLiteral("Output saved as %1 / Sortie enregistrée sous %1");
inline const QString kSaveFailed = QStringLiteral(
    "The output could not be saved as %1: %2 / La sortie n'a pas pu être enregistrée sous %1 : "
    "%2");

inline const QString kConfirmTitle = QStringLiteral("Velmora GUI");
inline const QString kConfirmStop = QStringLiteral(
    "Stop %1? What it has half-written is removed. / Arrêter %1 ? Ce qu'il a écrit en partie "
    "est effacé.");
inline const QString kConfirmStopAll = QStringLiteral(
    "Stop the %1 tools that are not done? What they have half-written is removed. / Arrêter "
    "les %1 outils qui n'ont pas fini ? Ce qu'ils ont écrit en partie est effacé.");

inline const QString kUsage =
    QStringLiteral("usage: velmora_console PROGRAM [ARGUMENT...]\n"
                   "       velmora_console --help\n"
                   "Runs PROGRAM in the current folder and shows its output, progress and result "
                   "in a window.\nThe first console of a desktop session opens the window; later "
                   "ones hand their\nprogram to it, as a row of its own, and end at once.\n");

} // namespace velmora::console::texts
