// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

namespace velmora {

// Message box styles, with the values of the flags they stand for: the buttons are always OK
// alone.
enum class MessageStyle {
    OkOnly = 0,      // no icon
    Critical = 16,   // stop icon: a system operation failed
    Exclamation = 48 // warning icon
};

// How a system operation ended: ok, or failed with the system's reason.
struct [[nodiscard]] Outcome {
    bool ok = true;
    QString reason;

    static Outcome success() { return {}; }
    static Outcome failure(QString why) { return {false, std::move(why)}; }
    explicit operator bool() const { return ok; }
};

// A tool to start: its program and arguments, and the command line that the user is shown, which
// names the same (on Windows the system is handed that line whole).
struct ToolCommand {
    QString program;
    QStringList arguments;
    QString text;

    // The command of a command line, split as the window's lines are: blanks separate
    // arguments outside double quotes.
    static ToolCommand fromLine(const QString& commandLine);
};

struct [[nodiscard]] FileLength {
    qint64 bytes = 0;
    Outcome outcome;
};

// The services that block or touch the system. The window receives one at construction;
// QtServices is the real one, tests pass a recording fake.
class Services {
public:
    virtual ~Services() = default;

    // Shows `text` modally with the application's title; returns when the user closes the box.
    virtual void messageBox(const QString& text, MessageStyle style) = 0;
    // Starts the tool as a detached process in the current directory; never waits.
    virtual Outcome launch(const ToolCommand& command) = 0;
    // Makes the drive named by the path current (nothing to do where there is one tree).
    virtual Outcome changeDrive(const QString& path) = 0;
    virtual Outcome changeDirectory(const QString& path) = 0;
    virtual FileLength fileLength(const QString& path) = 0;
    // Shows the open-file dialog with a filter of "description|pattern" pairs, starting at
    // `startFile`; returns the chosen file, or nothing when the dialog was closed without a choice.
    virtual std::optional<QString> openFile(const QString& filter, const QString& startFile) = 0;
};

} // namespace velmora
