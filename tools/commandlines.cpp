// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/commandlines.h"

#include "platform/pathrules.h"

namespace velmora {

QString programOrDefault(const QString& toolBox, const QString& defaultProgram) {
    return toolBox.isEmpty() ? defaultProgram : toolBox;
}

QString quotedFileList(const QStringList& entries) {
    qsizetype length = 0;
    for (const QString& entry : entries)
        length += entry.size() + 3;
    QString list;
    list.reserve(length);
    for (const QString& entry : entries) {
        list += u" \"";
        list += entry;
        list += u'"';
    }
    return list;
}

QString imageBuildCommandLine(const QString& program, const QString& volume, const QString& image,
                              const QString& fileList) {
    return u'"' + program + u"\" -v \"" + volume + u"\" -o \"" + image + u"\" -m " + fileList;
}

std::optional<QString> destinationPiece(const QString& entry, qsizetype rootLength) {
    if (rootLength <= 0 || rootLength >= entry.size())
        return std::nullopt;
    QStringView piece = QStringView(entry).mid(rootLength);
    qsizetype digits = 0;
    while (digits < piece.size() && piece.at(piece.size() - 1 - digits).isDigit())
        ++digits;
    if (digits > 0 && digits < piece.size() && piece.at(piece.size() - 1 - digits) == u';')
        piece.chop(digits + 1);
    if (piece.isEmpty())
        return std::nullopt;
    return piece.toString();
}

namespace {

QString destination(const QString& storagePath, const QString& piece, QChar separator) {
    const bool ends = !storagePath.isEmpty() && isSeparator(storagePath.back(), separator);
    if (ends)
        return storagePath + piece;
    return storagePath + separator + piece;
}

} // namespace

QString extractionCommandLine(const QString& program, const QString& entry,
                              const QString& storagePath, const QString& piece, QChar separator) {
    return u'"' + program + u"\" \"" + entry + u"\"  \"" +
           destination(storagePath, piece, separator) + u'"';
}

ToolCommand imageBuildCommand(const QString& program, const QString& volume, const QString& image,
                              const QStringList& entries) {
    QStringList arguments{QStringLiteral("-v"), volume, QStringLiteral("-o"), image,
                          QStringLiteral("-m")};
    arguments += entries;
    return {program, std::move(arguments),
            imageBuildCommandLine(program, volume, image, quotedFileList(entries))};
}

ToolCommand extractionCommand(const QString& program, const QString& entry,
                              const QString& storagePath, const QString& piece, QChar separator) {
    return {program,
            {entry, destination(storagePath, piece, separator)},
            extractionCommandLine(program, entry, storagePath, piece, separator)};
}

bool holdsDoubleQuote(const QString& input) {
    return input.contains(u'"');
}

} // namespace velmora
