// SPDX-License-Identifier: GPL-3.0-or-later
// The window's command lines split back into their arguments, as the launcher splits them: for
// any names without a double quote (the window refuses those), the tool receives exactly the
// program, volume, image and files the window put in, and an extraction exactly its entry and
// destination. The input is the texts, separated by NUL bytes, decoded from UTF-8.

#include "platform/commandlinesplit.h"
#include "tools/commandlines.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QStringList parts = text.split(QChar(u'\0'));
    if (parts.size() < 4 || velmora::holdsDoubleQuote(text))
        return 0;
    const QString program = parts.takeFirst();
    const QString volume = parts.takeFirst();
    const QString image = parts.takeFirst();
    const QStringList files = parts;

    const QStringList built = velmora::splitCommandLine(
        velmora::imageBuildCommandLine(program, volume, image, velmora::quotedFileList(files)));
    const QStringList expected =
        QStringList{program, QStringLiteral("-v"), volume, QStringLiteral("-o"),
                    image,   QStringLiteral("-m")} +
        files;
    if (built != expected)
        std::abort();

    const QStringList extraction = velmora::splitCommandLine(
        velmora::extractionCommandLine(program, files.first(), volume, image, QChar(u'/')));
    const QString destination =
        volume.endsWith(u'/') ? QString(volume + image) : QString(volume + u'/' + image);
    if (extraction != QStringList({program, files.first(), destination}))
        std::abort();
    return 0;
}
