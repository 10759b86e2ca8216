#pragma once

// Running the CD image tools as programs, and the files their tests feed them.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace velmora::test {

struct Run {
    int status = -1; // -1: did not end normally
    QString output;
    QString errors;
};

Run run(const QString& program, const QStringList& arguments, const QString& folder);

// `size` pseudo-random bytes, the same for the same seed.
QByteArray randomBytes(qint64 size, quint32 seed);
// Writes a file under `folder`; returns its path.
QString writeFile(const QString& folder, const QString& name, const QByteArray& data);
QByteArray readFile(const QString& path);

} // namespace velmora::test
