// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One tool the console runs: its process, its output as it comes, how far it is and how it
// ended. The console window shows a row for each, and the selected one's output and result.
//
// How a line travels: the tool writes it; the process reports output ready; its bytes go whole
// to a bounded spool file (what "Save output" keeps) and, decoded, are cut into lines; a progress
// line moves the progress, any other line goes into the output log, which keeps the last lines
// within fixed bounds and hands them to the job's document a piece at a time, a few times a second,
// so that no output holds the window up or fills the memory.

#include <QDateTime>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include "console/outputlog.h"
#include "console/toolrun.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTemporaryFile;
class QTextDocument;

namespace velmora::console {

class ToolJob : public QObject {
    Q_OBJECT
public:
    enum class State {
        Queued,    // not started yet
        Running,   // the process runs
        Stopping,  // asked to end
        Succeeded, // ended with status 0
        Repaired,  // ended with status 0, sectors rebuilt from the repair data on the way
        Warned,    // ended with status 0, having warned of something the user should know
        Failed,    // ended otherwise, or could not start
        Stopped,   // by the user, before it started or while it ran
    };

    // `command`: the program, then its arguments; run in `folder` with `environment`.
    ToolJob(QStringList command, QString folder, QProcessEnvironment environment,
            QObject* parent = nullptr);
    ~ToolJob() override;

    const QStringList& command() const { return m_command; }
    const QString& toolName() const { return m_toolName; }
    QString title() const { return windowTitle(m_command); }

    State state() const { return m_state; }
    bool ended() const;
    bool active() const { return m_state == State::Running || m_state == State::Stopping; }
    // The state in words, as the row and the status line show it.
    const QString& status() const { return m_status; }
    // The exit status, or -1 when the tool did not end normally.
    int exitStatus() const { return m_exitStatus; }
    // The signal that ended the tool, 0 when none did.
    int endingSignal() const { return m_signal; }
    // The last line written on standard error: the reason of a failure, as a rule.
    const QString& lastError() const { return m_lastError; }
    bool succeeded() const {
        return m_state == State::Succeeded || m_state == State::Repaired ||
               m_state == State::Warned;
    }
    // The short text of a row that ended with a warning ("Done, with a warning", "Checked:
    // repairable").
    const QString& warnedRow() const { return m_warnedRow; }
    // How close the disc came to losing data, where the tool said so.
    const std::optional<Margin>& marginFigures() const { return m_marginFigures; }
    // The environment it runs in.
    const QProcessEnvironment& environment() const { return m_environment; }
    // The first warning the tool gave, without its name ("only 19 of the 32 repair bands …").
    const QString& firstWarning() const { return m_firstWarning; }
    // The sectors the tool said it rebuilt from the repair data, and how close the disc came to
    // losing data ("the worst code word lost 21 of the 32 it can lose"), where it said so.
    qint64 rebuiltSectors() const { return m_rebuilt; }
    // When it started; not valid before.
    const QDateTime& startedAt() const { return m_startedAt; }
    const QString& margin() const { return m_margin; }
    // The last line written that is not a progress line, on either channel: a tool's closing
    // line, as a rule.
    const QString& lastLine() const { return m_lastLine; }
    // What the tool said of its run as a whole, never a warning it gave on the way: its closing
    // line on standard output (the repair data's footnotes after it left aside) where it ran to
    // its end (status 0, or 3 and over: damage told), else its last error.
    const QString& summary() const {
        const bool ranToItsEnd = m_exitStatus == 0 || m_exitStatus >= 3;
        return ranToItsEnd && !m_summary.isEmpty() ? m_summary : m_lastError;
    }
    // The tool's process while it runs, 0 otherwise.
    qint64 processId() const { return m_process.processId(); }

    int percent() const { return m_percent; }
    int highestPercent() const { return m_highestPercent; }
    const QString& detail() const { return m_detail; }

    // The tool's last lines of output, both channels, progress lines left out.
    QTextDocument* output() const { return m_output; }
    // Lines of output no longer in the document, to keep it within bounds.
    qsizetype droppedLines() const { return m_log.droppedLines(); }
    // Writes the output, every byte as the tool wrote it, to `path`, a new file with the user's
    // usual mode; the reason when it cannot. Of an output larger than the spool's bound, the
    // last bytes are kept, after a line that says how many came before them.
    std::optional<QString> saveOutput(const QString& path) const;
    bool canSaveOutput() const { return m_spool != nullptr; }
    // The most bytes of output kept for saving (1 GiB unless set).
    void setSpoolLimit(qint64 bytes) { m_spoolLimit = bytes; }
    // The bytes kept for saving now.
    qint64 spoolBytes() const { return m_spool ? std::min(m_spooled, m_spoolLimit) : 0; }
    // Lets what was kept for saving go, for the window's bound of `mebibytes`; saving then
    // says why there is nothing.
    void letSpoolGo(qint64 mebibytes);
    // The folder the tool runs in.
    const QString& folder() const { return m_folder; }

    void start();
    // Ends the running tool (SIGTERM to its process group and to every process it started,
    // however it left the group), or the waiting one before it starts. Asked again while the
    // tool is stopping, ends them outright (SIGKILL); after a few seconds' grace the status says
    // so. The tool counts as ended once all of them have.
    void stop();
    void setStopGrace(int milliseconds);

Q_SIGNALS:
    void progressed();
    void outputAdded();
    void stateChanged();
    // The tool has ended (or could not start, or was stopped before it started) and its
    // result is known.
    void done();

private:
    void takeRepairNote(const QString& line);
    static bool isFootnote(QStringView line);
    // A channel's text being cut into lines: the line begun, and whether its start is in the
    // log already (a line too long to wait for its end).
    struct Channel {
        StreamText text;
        QString open;
        bool openInLog = false;
    };

    void read(QProcess::ProcessChannel channel);
    bool spool(QByteArrayView bytes);
    void take(QStringView text, QProcess::ProcessChannel channel);
    bool takeLine(const QString& line, QProcess::ProcessChannel channel);
    void endOpenLine(Channel& channel);
    void flush();
    void finished(int code, QProcess::ExitStatus how);
    void failedToStart(QProcess::ProcessError error);
    void end(State state, const QString& text);
    // A check's own answers, which are no failure: repairable (4), repair data degraded (5).
    bool endAsCheck(int code);
    void endWarned(const QString& row, const QString& text);
    void signalTool(int signal);
    void endWhenAllGone();
    bool leftRunning();
    QList<pid_t> markedNow();
    void setState(State state, const QString& text);

    QStringList m_command;
    QString m_toolName;
    QString m_folder;
    QProcessEnvironment m_environment;
    QProcess m_process;
    Channel m_stdout;
    Channel m_stderr;
    OutputLog m_log;
    std::unique_ptr<QTemporaryFile> m_spool; // a ring: byte n of the output at n % limit
    qint64 m_spoolLimit = qint64(1) << 30;
    qint64 m_spooled = 0;       // bytes of output in all
    qint64 m_spoolLetGoFor = 0; // the window's bound in MiB, where the spool was let go for it
    QTimer m_flushTimer;
    QTimer m_stopGrace;
    // The program, its arguments and its folder as bytes, where one is not UTF-8: the tool is
    // then started with them as they are.
    std::vector<QByteArray> m_rawCommand;
    std::vector<char*> m_rawArgv;
    QByteArray m_rawFolder;
    QTextDocument* m_output;
    State m_state = State::Queued;
    QString m_status;
    QString m_lastError;
    QString m_lastLine;
    QString m_summary;
    qint64 m_rebuilt = 0;
    QDateTime m_startedAt;
    QString m_margin;
    QString m_firstWarning;
    // Both streams in one pipe, error lines marked at their start (our own tools).
    bool m_oneChannel = false;
    int m_leftoversLooked = 0;
    QString m_warnedRow;
    std::optional<Margin> m_marginFigures;
    int m_exitStatus = -1;
    int m_signal = 0;
    int m_percent = 0;
    int m_highestPercent = 0;
    QString m_detail;
    // Shows the result once the output is all in the document and every process the tool
    // started has ended.
    std::function<void()> m_ending;
    // The mark in the environment of the tool and of whatever it starts.
    QByteArray m_mark;
    QTimer m_leftovers;    // looks again for processes of the tool left running
    QSet<pid_t> m_started; // the processes seen with the mark, until each has ended
};

} // namespace velmora::console
