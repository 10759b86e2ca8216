// SPDX-License-Identifier: GPL-3.0-or-later
// velmora_tolk on many small files: 10,000 files against 1,000 in the same run. The cost per
// file must stay the same, so ten times the files take at most about ten times as long.

#include "benchclock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

double buildOf(const QString& folder, int count) {
    QStringList arguments = {QStringLiteral("--force"), QStringLiteral("-v"),
                             QStringLiteral("V"),       QStringLiteral("-o"),
                             QStringLiteral("many"),    QStringLiteral("-m")};
    for (int i = 0; i < count; ++i)
        arguments.append(QStringLiteral("f%1.dat").arg(i));
    return velmora::bench::bestOf(3, [&] {
        QProcess tool;
        tool.setWorkingDirectory(folder);
        tool.setStandardOutputFile(QProcess::nullDevice());
        tool.setStandardErrorFile(QProcess::nullDevice());
        tool.start(QStringLiteral(VELMORA_TOLK), arguments);
        if (!tool.waitForFinished(-1) || tool.exitCode() != 0)
            qFatal("velmora_tolk failed on %d files", count);
    });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    const QByteArray data(100, 'x');
    for (int i = 0; i < 10000; ++i) {
        QFile file(QDir(folder.path()).filePath(QStringLiteral("f%1.dat").arg(i)));
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
    }
    const double thousand = buildOf(folder.path(), 1000);
    const double tenThousand = buildOf(folder.path(), 10000);
    velmora::bench::report("velmora_tolk, 10,000 small files", tenThousand, "1,000 files", thousand,
                           12.0);
    return 0;
}
