// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Qt's own texts (the "Yes" and "No" of a question, the buttons of the file dialog) in the
// user's language, as the program's own texts are given in English and French.

class QCoreApplication;
class QTranslator;

namespace velmora {

// Loads Qt's translations for the user's language (QLocale()) into `application`, where the
// system has them; the translator installed (owned by `application`), or null when there are
// none.
QTranslator* loadQtTranslations(QCoreApplication& application);

} // namespace velmora
