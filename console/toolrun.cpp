// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/toolrun.h"

#include "terminal/progress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
