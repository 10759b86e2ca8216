// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakeservices.h"

namespace velmora::test {

void FakeServices::messageBox(const QString& text, int style) {
    calls.append({QStringLiteral("messageBox"), text, style, {}});
    if (onMessageBox)
        onMessageBox(text, style);
}

Outcome FakeServices::launch(const QString& commandLine) {
    calls.append({QStringLiteral("launch"), commandLine, 0, {}});
    if (launchFailure)
        return Outcome::failure(*launchFailure);
    return realLaunch ? m_real.launch(commandLine) : Outcome::success();
}

Outcome FakeServices::changeDrive(const QString& path) {
    calls.append({QStringLiteral("changeDrive"), path, 0, {}});
    if (driveFailure)
        return Outcome::failure(*driveFailure);
    return m_real.changeDrive(path);
}

Outcome FakeServices::changeDirectory(const QString& path) {
    calls.append({QStringLiteral("changeDirectory"), path, 0, {}});
    if (directoryFailure)
        return Outcome::failure(*directoryFailure);
    return m_real.changeDirectory(path);
}

FileLength FakeServices::fileLength(const QString& path) {
    calls.append({QStringLiteral("fileLength"), path, 0, {}});
    if (lengthFailure)
        return {0, Outcome::failure(*lengthFailure)};
    return m_real.fileLength(path);
}

std::optional<QString> FakeServices::openFile(const QString& filter, const QString& startFile) {
    calls.append({QStringLiteral("openFile"), filter, 0, startFile});
    if (dialogAnswers.empty())
        return std::nullopt;
    const auto answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    return answer ? std::optional<QString>(*answer) : std::nullopt;
}

QList<Call> FakeServices::callsTo(const QString& service) const {
    QList<Call> selected;
    for (const Call& call : calls) {
        if (call.service == service)
            selected.append(call);
    }
    return selected;
}

QStringList FakeServices::messages() const {
    QStringList texts;
    for (const Call& call : callsTo(QStringLiteral("messageBox")))
        texts.append(call.text);
    return texts;
}

QStringList FakeServices::launches() const {
    QStringList texts;
    for (const Call& call : callsTo(QStringLiteral("launch")))
        texts.append(call.text);
    return texts;
}

QString FakeServices::sequence() const {
    QStringList services;
    for (const Call& call : calls)
        services.append(call.service);
    return services.join(u' ');
}

} // namespace velmora::test
