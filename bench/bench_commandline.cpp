// SPDX-License-Identifier: GPL-3.0-or-later
// The image build's command line for 30,000 entries of 100 characters, against one reserved
// concatenation of the same strings; and the time until its message box is on the screen.

#include "app/texts.h"
#include "benchclock.h"
#include "platform/messagebox.h"
#include "platform/services.h"
#include "tools/commandlines.h"

#include <QApplication>
#include <QDialog>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QStringList entries;
    for (int i = 0; i < 30000; ++i)
        entries.append(QStringLiteral("/media/cd/") + QString(84, u'a') +
                       QString::number(100000 + i));

    qsizetype length = 0;
    const double concatenation = velmora::bench::bestOf(20, [&] {
        qsizetype total = 0;
        for (const QString& entry : entries)
            total += entry.size();
        QString joined;
        joined.reserve(total);
        for (const QString& entry : entries)
            joined += entry;
        length = joined.size();
    });
    QString commandLine;
    const double built = velmora::bench::bestOf(20, [&] {
        commandLine = velmora::imageBuildCommandLine(
            QStringLiteral("velmora_tolk.exe"), QStringLiteral("Kestrel"),
            QStringLiteral("Kestrel"), velmora::quotedFileList(entries));
    });
    if (length == 0 || commandLine.size() <= length)
        return 1;
    velmora::bench::report("command line, 30,000 entries", built, "concatenation", concatenation,
                           3);

    const double shown = velmora::bench::bestOf(3, [&] {
        QDialog* box = velmora::createMessageBox(commandLine, velmora::MessageStyle::OkOnly,
                                                 velmora::texts::kApplicationTitle, nullptr);
        box->show();
        QCoreApplication::processEvents();
        delete box;
    });
    std::printf("%-48s %10.2f ms  (bound 1000 ms: %s)\n", "message box of that command line shown",
                shown, shown <= 1000 ? "within" : "OVER");
    return 0;
}
