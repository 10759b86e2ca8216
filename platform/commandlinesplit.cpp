// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/commandlinesplit.h"

#include "platform/services.h"

namespace velmora {

QStringList splitCommandLine(const QString& commandLine) {
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (const QChar c : commandLine) {
        if (c == u'"') {
            quoted = !quoted;
            inArgument = true;
        } else if (c == u' ' && !quoted) {
            if (inArgument)
                arguments.append(std::exchange(current, QString()));
            inArgument = false;
        } else {
            current.append(c);
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.append(current);
    return arguments;
}

ToolCommand ToolCommand::fromLine(const QString& commandLine) {
    QStringList parts = splitCommandLine(commandLine);
    const QString program = parts.isEmpty() ? QString() : parts.takeFirst();
    return {program, parts, commandLine};
}

} // namespace velmora
