// SPDX-License-Identifier: GPL-3.0-or-later
// Many small files: velmora_tolk building an image of 10,000 files against 1,000, and dat2file
// giving back a whole image of 100,000 one-sector files against 10,000, in the same run. The
// cost per file must stay the same, so ten times the files take at most about ten times as
// long (bound 12).

#include "benchclock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

void runTool(const QString& program, const QStringList& arguments, const QString& folder) {
    if (!velmora::bench::runQuietly(program, arguments, folder))
        qFatal("%s failed in %s", qPrintable(program), qPrintable(folder));
}

// The time dat2file takes to give back every file of an image of `count` one-sector files.
double extractionOf(const QString& folder, int count) {
    const QString image = QStringLiteral("many%1").arg(count);
    QFile list(folder + QStringLiteral("/%1.list").arg(image)); // more than a command line holds
    if (!list.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(list.fileName()));
    for (int i = 0; i < count; ++i)
        list.write(QStringLiteral("files/f%1.dat\n").arg(i).toUtf8());
    list.close();
    runTool(QStringLiteral(VELMORA_TOLK),
            {QStringLiteral("-v"), QStringLiteral("V"), QStringLiteral("-o"), image,
             QStringLiteral("--files-from"), list.fileName(), QStringLiteral("-m")},
            folder);
    return velmora::bench::bestOf(1, [&] {
        QDir(folder + QStringLiteral("/out")).removeRecursively();
        runTool(QStringLiteral(DAT2FILE), {image + QStringLiteral(".cue"), QStringLiteral("out")},
                folder);
    });
}

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

    QTemporaryDir extraction;
    QDir(extraction.path()).mkdir(QStringLiteral("files"));
    for (int i = 0; i < 100000; ++i) {
        QFile file(extraction.path() + QStringLiteral("/files/f%1.dat").arg(i));
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
    }
    const double tenThousandOut = extractionOf(extraction.path(), 10000);
    const double hundredThousandOut = extractionOf(extraction.path(), 100000);
    velmora::bench::report("dat2file, a whole image of 100,000 small files", hundredThousandOut,
                           "10,000 files", tenThousandOut, 12.0);
    return 0;
}
