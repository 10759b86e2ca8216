// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/services.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace velmora {

// The program of a command line: what the tool box holds, or the default when it is empty.
QString programOrDefault(const QString& toolBox, const QString& defaultProgram);

// Every entry between double quotes, each preceded by one blank: ` "e1" "e2"`.
QString quotedFileList(const QStringList& entries);

// `"<program>" -v "<volume>" -o "<image>" -m ` followed by the quoted file list.
QString imageBuildCommandLine(const QString& program, const QString& volume, const QString& image,
                              const QString& fileList);

// The part of an entry that names its place under the storage path: the entry without its
// drive root (`rootLength` characters) and without a trailing ISO 9660 version (";1"). Nothing
// when no drive root holds the entry or nothing is left of it.
std::optional<QString> destinationPiece(const QString& entry, qsizetype rootLength);

// `"<program>" "<entry>"  "<storage path><separator><piece>"`, the separator put in only when
// the storage path does not already end with it.
QString extractionCommandLine(const QString& program, const QString& entry,
                              const QString& storagePath, const QString& piece, QChar separator);

// The image build as a tool to start: the program with `-v VOLUME -o IMAGE -m` and each entry,
// shown as imageBuildCommandLine writes it.
ToolCommand imageBuildCommand(const QString& program, const QString& volume, const QString& image,
                              const QStringList& entries);

// One extraction as a tool to start: the program with the entry and its destination, shown as
// extractionCommandLine writes it.
ToolCommand extractionCommand(const QString& program, const QString& entry,
                              const QString& storagePath, const QString& piece, QChar separator);

// A double quote inside an input would end its quoted argument early.
bool holdsDoubleQuote(const QString& input);

} // namespace velmora
