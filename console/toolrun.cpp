// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/toolrun.h"

#include "terminal/progress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <csignal>

namespace velmora::console {

std::optional<Progress> progressOf(QStringView line) {
    static const QString kMarker = QString::fromLatin1(cdimage::kProgressMarker.data(),
                                                       qsizetype(cdimage::kProgressMarker.size()));
    const qsizetype marker = line.indexOf(kMarker);
    if (marker <= 0 || line.left(marker).contains(u' '))
        return std::nullopt;
    QStringView rest = line.mid(marker + kMarker.size());
    qsizetype digits = 0;
    while (digits < rest.size() && digits < 4 && rest.at(digits).isDigit())
        ++digits;
    if (digits == 0 || digits > 3 || digits == rest.size() || rest.at(digits) != u'%')
        return std::nullopt;
    if (digits + 1 < rest.size() && rest.at(digits + 1) != u' ')
        return std::nullopt;
    const int percent = rest.left(digits).toInt();
    if (percent > 100)
        return std::nullopt;
    return Progress{percent, rest.mid(digits + 1).trimmed().toString()};
}

QString windowTitle(const QStringList& command) {
    if (command.isEmpty())
        return {};
    const QString tool = QFileInfo(command.first()).fileName();
    const qsizetype image = command.indexOf(QStringLiteral("-o"));
    const QString subject = image > 0 && image + 1 < command.size() ? command.at(image + 1)
                            : command.size() > 1                    ? command.constLast()
                                                                    : QString();
    return subject.isEmpty() ? tool : QStringLiteral("%1 — %2").arg(tool, subject);
}

namespace {

// The program beside `program` named `name`, with the same ending (".exe" on Windows).
QString besideProgram(const QString& program, const QString& name) {
    const QFileInfo info(program);
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    return info.dir().filePath(name + suffix);
}

// velmora_tolk's image: `-o IMAGE` written as IMAGE.cue in its folder, a .bin or .cue ending
// dropped.
std::optional<FollowUp> followUpOfBuild(const QStringList& command, const QString& folder) {
    const qsizetype at = command.indexOf(QStringLiteral("-o"));
    if (at < 1 || at + 1 >= command.size() || command.at(at + 1).isEmpty())
        return std::nullopt;
    QString image = command.at(at + 1);
    if (image.endsWith(u".bin", Qt::CaseInsensitive) ||
        image.endsWith(u".cue", Qt::CaseInsensitive))
        image.chop(4);
    const QString cue =
        QDir::cleanPath(QDir(folder).absoluteFilePath(image + QStringLiteral(".cue")));
    return FollowUp{{besideProgram(command.first(), QStringLiteral("dat2file")),
                     QStringLiteral("--check"), cue},
                    QFileInfo(cue).absolutePath(),
                    true};
}

// dat2file's source: `SOURCE DEST`, or `--image IMAGE NAME DEST`; --force anywhere.
std::optional<FollowUp> followUpOfRead(const QStringList& command, const QString& folder) {
    QStringList arguments = command.mid(1);
    arguments.removeAll(QStringLiteral("--force"));
    const QDir in(folder);
    if (arguments.size() == 2 && !arguments.first().startsWith(u"--"))
        return FollowUp{{command.first(), QStringLiteral("--check"),
                         QDir::cleanPath(in.absoluteFilePath(arguments.at(0)))},
                        QDir::cleanPath(in.absoluteFilePath(arguments.at(1))),
                        false};
    if (arguments.size() == 4 && arguments.first() == u"--image")
        return FollowUp{{command.first(), QStringLiteral("--check"),
                         QDir::cleanPath(in.absoluteFilePath(arguments.at(1)))},
                        QDir::cleanPath(in.absoluteFilePath(arguments.at(3))),
                        false};
    return std::nullopt;
}

} // namespace

std::optional<FollowUp> followUpOf(const QStringList& command, const QString& folder) {
    if (command.isEmpty())
        return std::nullopt;
    const QString tool = QFileInfo(command.first()).completeBaseName();
    if (tool == u"velmora_tolk")
        return followUpOfBuild(command, folder);
    if (tool == u"dat2file")
        return followUpOfRead(command, folder);
    return std::nullopt;
}

std::optional<Margin> marginOf(QStringView line) {
    static const QRegularExpression said(
        QStringLiteral(R"(the worst code word lost (\d+) of the (\d+) (?:sectors )?it can lose)"));
    static const QRegularExpression whole(
        QStringLiteral(R"(no code word lost a sector \(each can lose (\d+)\))"));
    if (const QRegularExpressionMatch found = whole.match(line); found.hasMatch())
        return Margin{0, found.capturedView(1).toInt(), found.captured(0)};
    const QRegularExpressionMatch found = said.match(line);
    if (!found.hasMatch())
        return std::nullopt;
    const int lost = found.capturedView(1).toInt(), canLose = found.capturedView(2).toInt();
    if (canLose <= 0)
        return std::nullopt;
    return Margin{lost, canLose, found.captured(0)};
}

QString commandLineOf(const QStringList& command) {
    QStringList shown;
    for (const QString& part : command) {
        const bool quote = part.isEmpty() || std::any_of(part.begin(), part.end(),
                                                         [](QChar c) { return c.isSpace(); });
        shown.append(quote ? u'"' + part + u'"' : part);
    }
    return shown.join(u' ');
}

QString breakableAnywhere(const QString& text) {
    constexpr qsizetype kLongestRun = 12;
    QString broken;
    broken.reserve(text.size() + text.size() / kLongestRun);
    qsizetype run = 0;
    for (const QChar c : text) {
        broken.append(c);
        run = c.isSpace() ? 0 : run + 1;
        if (run >= kLongestRun || c == u'/' || c == u'\\') {
            broken.append(QChar(0x200B));
            run = 0;
        }
    }
    return broken;
}

QString signalName(int signal) {
    switch (signal) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGSEGV:
        return QStringLiteral("SIGSEGV");
    case SIGABRT:
        return QStringLiteral("SIGABRT");
    case SIGFPE:
        return QStringLiteral("SIGFPE");
    case SIGILL:
        return QStringLiteral("SIGILL");
#ifdef SIGKILL
    case SIGKILL:
        return QStringLiteral("SIGKILL");
#endif
#ifdef SIGBUS
    case SIGBUS:
        return QStringLiteral("SIGBUS");
#endif
#ifdef SIGHUP
    case SIGHUP:
        return QStringLiteral("SIGHUP");
#endif
#ifdef SIGPIPE
    case SIGPIPE:
        return QStringLiteral("SIGPIPE");
#endif
    default:
        return QStringLiteral("signal %1").arg(signal);
    }
}

} // namespace velmora::console
