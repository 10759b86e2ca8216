// SPDX-License-Identifier: GPL-3.0-or-later
// Refilling the file list for a folder of 100,000 files, against QDir::entryList with the same
// filter on the same folder.

#include "benchclock.h"
#include "platform/controls.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QTemporaryDir folder;
    constexpr int kFiles = 100000;
    for (int i = 0; i < kFiles; ++i) {
        QFile file(folder.filePath(QStringLiteral("file %1.bin").arg(i, 6, 10, QLatin1Char('0'))));
        file.open(QIODevice::WriteOnly);
    }
    velmora::FileListBox files(nullptr);
    files.resize(257, 123);
    files.show();

    int listed = 0;
    const double entryList = velmora::bench::bestOf(5, [&] {
        listed =
            int(QDir(folder.path()).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase).size());
    });
    const double refill = velmora::bench::bestOf(5, [&] {
        (void)files.setPath(QDir::rootPath()); // away and back, so every run is a real refill
        (void)files.setPath(folder.path());
        QCoreApplication::processEvents();
    });
    if (listed != kFiles || files.model()->rowCount() != kFiles)
        return 1;
    velmora::bench::report("file list refill, 100,000 files", refill, "entryList", entryList, 1.5);
    return 0;
}
