// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/qtservices.h"
#include "platform/services.h"

#include <QList>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

namespace velmora::test {

// The services, one for each call of the interface.
enum class Service { MessageBox, Launch, ChangeDrive, ChangeDirectory, FileLength, OpenFile };

// One call into the services, in the order the window made it.
struct Call {
    Service service;
    QString text; // the text, command line or path handed over (the filter, for openFile)
    MessageStyle style = MessageStyle::OkOnly;
    QString extra;       // the dialog's starting file
    QStringList command; // a launch's program, then its arguments
};

// Records every call. Message boxes return at once; dialogs answer from a queue (an empty
// optional is a dialog closed without a choice). File lengths and folder changes go to the
// real system unless a failure is scripted; launches are only recorded unless `realLaunch`.
class FakeServices final : public Services {
public:
    void messageBox(const QString& text, MessageStyle style) override;
    Outcome launch(const ToolCommand& command) override;
    // The command line, as the other launches are shown.
    Outcome launch(const QString& commandLine) {
        return launch(ToolCommand::fromLine(commandLine));
    }
    Outcome changeDrive(const QString& path) override;
    Outcome changeDirectory(const QString& path) override;
    FileLength fileLength(const QString& path) override;
    std::optional<QString> openFile(const QString& filter, const QString& startFile) override;

    QList<Call> calls;
    std::deque<std::optional<QString>> dialogAnswers;
    std::function<void(const QString& text, MessageStyle style)> onMessageBox;
    std::optional<QString> driveFailure, directoryFailure, launchFailure, lengthFailure;
    bool realLaunch = false;

    QList<Call> callsTo(Service service) const;
    QStringList messages() const;
    QStringList launches() const;
    // Each launch's program, then its arguments.
    QList<QStringList> launchedCommands() const;
    // The services called, in order, as one text by their names in the interface:
    // "messageBox launch messageBox ..."
    QString sequence() const;
    void clear() { calls.clear(); }
    // Real launches go through this console program (none by default).
    void useConsole(const QString& console) { m_real = QtServices(QString(), console); }

private:
    QtServices m_real{QString(), QString()};
};

} // namespace velmora::test
