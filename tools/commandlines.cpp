#include "tools/commandlines.h"

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
    const qsizetype length = entry.size() - rootLength - 2;
    if (rootLength <= 0 || length < 0)
        return std::nullopt;
    return entry.mid(rootLength, length);
}

QString extractionCommandLine(const QString& program, const QString& entry,
                              const QString& storagePath, const QString& piece) {
    return u'"' + program + u"\" \"" + entry + u"\"  \"" + storagePath + piece + u'"';
}

bool holdsDoubleQuote(const QString& input) {
    return input.contains(u'"');
}

} // namespace velmora
