// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/services.h"

#include <QString>
#include <QTemporaryFile>

#include <memory>
#include <vector>

class QWidget;

namespace velmora {

// The real services, on Qt and the standard library.
class QtServices final : public Services {
public:
    // `messageTitle`: the title of every message box. `console`: where the tools get a window
    // of their own to run in on systems that give a console program none (the console program
    // beside this one, by default); where it is not found, the tools start directly.
    explicit QtServices(QString messageTitle, QString console = consoleBesideProgram());

    static QString consoleBesideProgram();

    void messageBox(const QString& text, MessageStyle style) override;
    Outcome launch(const ToolCommand& command) override;
    Outcome changeDrive(const QString& path) override;
    Outcome changeDirectory(const QString& path) override;
    FileLength fileLength(const QString& path) override;
    std::optional<QString> openFile(const QString& filter, const QString& startFile) override;

private:
    // Starts a tool as this system does: on Windows, its line as shown, in a console of its
    // own; elsewhere through the console window, each argument as given.
    Outcome startTool(const ToolCommand& command);
#ifdef Q_OS_WIN
    // A line Windows would refuse as too long: its files handed over in a list instead.
    Outcome fitLine(const QStringList& arguments, QString& whole);
#endif
    QString m_messageTitle;
    QString m_console;
#ifdef Q_OS_WIN
    // Lists of files handed to a tool whose command line Windows would refuse; removed when the
    // window ends (each tool reads its list as it starts).
    std::vector<std::unique_ptr<QTemporaryFile>> m_fileLists;
#endif
};

} // namespace velmora
