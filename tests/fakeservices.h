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

// One call into the services, in the order the window made it.
struct Call {
    QString service; // "messageBox", "launch", "changeDrive", "changeDirectory", "fileLength",
                     // "openFile"
    QString text;    // the text, command line or path handed over (the filter, for openFile)
    int style = 0;   // message box style
    QString extra;   // the dialog's starting file
};

// Records every call. Message boxes return at once; dialogs answer from a queue (an empty
// optional is a dialog closed without a choice). File lengths and folder changes go to the
// real system unless a failure is scripted; launches are only recorded unless `realLaunch`.
class FakeServices final : public Services {
public:
    void messageBox(const QString& text, int style) override;
    Outcome launch(const QString& commandLine) override;
    Outcome changeDrive(const QString& path) override;
    Outcome changeDirectory(const QString& path) override;
    FileLength fileLength(const QString& path) override;
    std::optional<QString> openFile(const QString& filter, const QString& startFile) override;

    QList<Call> calls;
    std::deque<std::optional<QString>> dialogAnswers;
    std::function<void(const QString& text, int style)> onMessageBox;
    std::optional<QString> driveFailure, directoryFailure, launchFailure, lengthFailure;
    bool realLaunch = false;

    QList<Call> callsTo(const QString& service) const;
    QStringList messages() const;
    QStringList launches() const;
    // The services called, in order, as one text: "messageBox launch messageBox ..."
    QString sequence() const;
    void clear() { calls.clear(); }
    // Real launches go through this console program (none by default).
    void useConsole(const QString& console) { m_real = QtServices(console); }

private:
    QtServices m_real{QString()};
};

} // namespace velmora::test
