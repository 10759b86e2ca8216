// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startup.h"

#include "app/form1.h"
#include "app/texts.h"
#include "platform/qtservices.h"
#include "platform/qttranslations.h"

#include <QApplication>

namespace velmora {

int runApplication(int& argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmora-gui"));
    QApplication::setApplicationVersion(QStringLiteral("0.2a"));
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora-gui"));
    QApplication::setWindowIcon(Form1::icon());
    loadQtTranslations(application); // the file dialog's buttons in the user's language

    QtServices services(texts::kApplicationTitle);
    Form1 window(services);
    window.Form_Load();
    window.show();
    return QApplication::exec();
}

} // namespace velmora
