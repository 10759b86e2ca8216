// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakeservices.h"

namespace velmora::test {

void FakeServices::messageBox(const QString& text, MessageStyle style) {
    calls.append({Service::MessageBox, text, style, {}, {}});
    if (onMessageBox)
        onMessageBox(text, style);
}

Outcome FakeServices::launch(const ToolCommand& command) {
    calls.append({Service::Launch,
                  command.text,
                  MessageStyle::OkOnly,
                  {},
                  QStringList{command.program} + command.arguments});
    if (launchFailure)
        return Outcome::failure(*launchFailure);
    return realLaunch ? m_real.launch(command) : Outcome::success();
}

Outcome FakeServices::changeDrive(const QString& path) {
    calls.append({Service::ChangeDrive, path, MessageStyle::OkOnly, {}, {}});
    if (driveFailure)
        return Outcome::failure(*driveFailure);
    return m_real.changeDrive(path);
}

Outcome FakeServices::changeDirectory(const QString& path) {
    calls.append({Service::ChangeDirectory, path, MessageStyle::OkOnly, {}, {}});
    if (directoryFailure)
        return Outcome::failure(*directoryFailure);
    return m_real.changeDirectory(path);
}

FileLength FakeServices::fileLength(const QString& path) {
    calls.append({Service::FileLength, path, MessageStyle::OkOnly, {}, {}});
    if (lengthFailure)
        return {0, Outcome::failure(*lengthFailure)};
    return m_real.fileLength(path);
}

std::optional<QString> FakeServices::openFile(const QString& filter, const QString& startFile) {
    calls.append({Service::OpenFile, filter, MessageStyle::OkOnly, startFile, {}});
    if (dialogAnswers.empty())
        return std::nullopt;
    const auto answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    return answer ? std::optional<QString>(*answer) : std::nullopt;
}

QList<Call> FakeServices::callsTo(Service service) const {
    QList<Call> selected;
    for (const Call& call : calls) {
        if (call.service == service)
            selected.append(call);
    }
    return selected;
}

QStringList FakeServices::messages() const {
    QStringList texts;
    for (const Call& call : callsTo(Service::MessageBox))
        texts.append(call.text);
    return texts;
}

QStringList FakeServices::launches() const {
    QStringList texts;
    for (const Call& call : callsTo(Service::Launch))
        texts.append(call.text);
    return texts;
}

QList<QStringList> FakeServices::launchedCommands() const {
    QList<QStringList> commands;
    for (const Call& call : callsTo(Service::Launch))
        commands.append(call.command);
    return commands;
}

QString FakeServices::sequence() const {
    static const QStringList kNames = {u"messageBox"_qs,      u"launch"_qs,     u"changeDrive"_qs,
                                       u"changeDirectory"_qs, u"fileLength"_qs, u"openFile"_qs};
    QStringList services;
    for (const Call& call : calls)
        services.append(kNames.at(int(call.service)));
    return services.join(u' ');
}

} // namespace velmora::test
