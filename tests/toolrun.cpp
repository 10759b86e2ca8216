// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolrun.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "cdimage/format/riff.h"

#include <csignal>
#include <sys/types.h>

namespace velmora::test {

namespace {

QString windowsTools() {
    return qEnvironmentVariable("VELMORA_TEST_WINDOWS_TOOLS");
}

} // namespace

bool testingWindowsTools() {
    return !windowsTools().isEmpty();
}

QString tolkProgram() {
    return testingWindowsTools() ? windowsTools() + u"/velmora_tolk.exe"_qs
                                 : QStringLiteral(VELMORA_TOLK);
}

QString dat2fileProgram() {
    return testingWindowsTools() ? windowsTools() + u"/dat2file.exe"_qs : QStringLiteral(DAT2FILE);
}

QString shownPath(const QString& path) {
    if (!testingWindowsTools())
        return path;
    QString shown = path.startsWith(u'/') ? u"Z:"_qs + path : path;
    return shown.replace(u'/', u'\\');
}

QString diskFullText() {
    // wine's words; Windows itself says "There is not enough space on the disk".
    return testingWindowsTools() ? u"Disk full"_qs : u"No space left on device"_qs;
}

QString readOnlyText() {
    return testingWindowsTools() ? u"Access denied"_qs : u"Read-only file system"_qs;
}

QString noSuchFolderText() {
    return testingWindowsTools() ? u"Path not found"_qs : u"No such file or directory"_qs;
}

void startTool(QProcess& process, const QString& program, const QStringList& arguments) {
    if (program.endsWith(u".exe"_qs))
        process.start(qEnvironmentVariable("VELMORA_TEST_WINE", u"/usr/lib/wine/wine64"_qs),
                      QStringList{program} + arguments);
    else
        process.start(program, arguments);
}

bool endedByStop(const Stop& stop, int signal) {
    return testingWindowsTools() ? stop.signal == 0 && stop.status == 0x3A : stop.signal == signal;
}

Run run(const QString& program, const QStringList& arguments, const QString& folder,
        int milliseconds) {
    QProcess process;
    process.setWorkingDirectory(folder);
    startTool(process, program, arguments);
    if (!process.waitForFinished(milliseconds)) {
        process.kill();
        process.waitForFinished();
        return {-1, {}, u"still running after "_qs + QString::number(milliseconds) + u" ms"_qs};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

Stop stopMidway(const QString& program, const QStringList& arguments, const QString& folder,
                int signal) {
    QProcess process;
    process.setWorkingDirectory(folder);
    startTool(process, program, arguments);
    Stop stop;
    const QRegularExpression midway(QStringLiteral(": progress [1-9][0-9]?%"));
    while (process.state() != QProcess::NotRunning && !stop.sawProgress) {
        process.waitForReadyRead(100);
        stop.errors += QString::fromUtf8(process.readAllStandardError());
        stop.sawProgress = stop.errors.contains(midway);
    }
    if (stop.sawProgress)
        ::kill(pid_t(process.processId()), program.endsWith(u".exe"_qs) ? SIGINT : signal);
    process.waitForFinished(60000);
    stop.errors += QString::fromUtf8(process.readAllStandardError());
    if (process.exitStatus() == QProcess::CrashExit)
        stop.signal = process.exitCode();
    else
        stop.status = process.exitCode();
    return stop;
}

QByteArray randomBytes(qint64 size, quint32 seed) {
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& byte : data)
        byte = char(generator.generate());
    return data;
}

QString writeFile(const QString& folder, const QString& name, const QByteArray& data) {
    QDir().mkpath(QFileInfo(QDir(folder).filePath(name)).path());
    QFile file(QDir(folder).filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

bool unpack(const QString& packed, const QString& folder, const QString& name) {
    QProcess xz;
    xz.setStandardOutputFile(folder + u'/' + name);
    xz.start(u"xz"_qs, {u"-dc"_qs, packed});
    return xz.waitForFinished() && xz.exitStatus() == QProcess::NormalExit && xz.exitCode() == 0;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QMap<QString, QByteArray> filesUnder(const QString& folder) {
    QMap<QString, QByteArray> found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        found.insert(QDir(folder).relativeFilePath(path), readFile(path));
    }
    return found;
}

std::pair<qint64, qint64> placeOf(const QString& cue, const QString& identifier,
                                  const QString& scratch) {
    const Run read = run(QStringLiteral(ISO9660_READER),
                         {cue, u"/"_qs + identifier + u";1"_qs, scratch + u"/place"_qs}, scratch);
    const auto match =
        QRegularExpression(QStringLiteral("lsn (\\d+) sectors (\\d+)")).match(read.output);
    return {match.captured(1).toLongLong(), match.captured(2).toLongLong()};
}

QByteArray riffOf(const QString& bin, std::pair<qint64, qint64> place) {
    const std::vector<std::uint8_t> header =
        cdimage::riffHeader(std::uint32_t(place.second), 0x1555);
    QFile image(bin);
    image.open(QIODevice::ReadOnly);
    image.seek(place.first * 2352);
    return QByteArray(reinterpret_cast<const char*>(header.data()), qsizetype(header.size())) +
           image.read(place.second * 2352);
}

void layOutCd(const QString& cue, const QString& cdFolder, const QStringList& identifiers) {
    const QString scratch = QFileInfo(cue).path();
    const QString bin = cue.chopped(4) + u".bin"_qs;
    run(QStringLiteral(ISO9660_READER), {cue, u"/VELMORA.LST;1"_qs, scratch + u"/list"_qs},
        scratch);
    writeFile(cdFolder, QStringLiteral("VELMORA.LST"), readFile(scratch + u"/list"_qs));
    for (const QString& identifier : identifiers)
        writeFile(cdFolder, u"FILES/"_qs + identifier,
                  riffOf(bin, placeOf(cue, identifier, scratch)));
}

SmallDisk::SmallDisk(qint64 bytes, bool readOnly) {
    static QTemporaryDir mountPoints;
    static int count = 0;
    const QString folder = mountPoints.filePath(QString::number(++count));
    QDir().mkpath(folder);
    QProcess mount;
    mount.start(
        QStringLiteral("mount"),
        {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
         QStringLiteral("size=%1%2").arg(bytes).arg(readOnly ? QStringLiteral(",ro") : QString()),
         QStringLiteral("tmpfs"), folder});
    if (!mount.waitForFinished(10000) || mount.exitStatus() != QProcess::NormalExit ||
        mount.exitCode() != 0)
        why = QStringLiteral("cannot mount a small tmpfs (root is needed): ") +
              QString::fromLocal8Bit(mount.readAllStandardError()).trimmed();
    else
        path = folder;
}

SmallDisk::~SmallDisk() {
    if (!path.isEmpty())
        QProcess::execute(QStringLiteral("umount"), {path});
}

} // namespace velmora::test
