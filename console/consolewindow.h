#pragma once

// The window a launched tool runs in, as a console program gets one on Windows: the command line,
// the tool's output as it comes, a progress bar fed by the tool's progress lines, and at the end
// whether the tool succeeded. The window stays until the user closes it; while the tool runs,
// Stop and closing the window ask first, then end the tool with SIGTERM.
//
// How a line travels: the tool writes it; the process reports output ready; the splitter cuts
// the bytes into lines; a progress line moves the bar, any other line waits in a batch that is
// appended to the output view a few times a second, so long output never holds the window up.

#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include "console/toolrun.h"

#include <functional>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace velmora::console {

class ConsoleWindow : public QWidget {
    Q_OBJECT
public:
    // `command`: the program, then its arguments.
    explicit ConsoleWindow(QStringList command, QWidget* parent = nullptr);
    ~ConsoleWindow() override;

    // Starts the tool in the current folder.
    void start();
    bool running() const { return m_tool.state() != QProcess::NotRunning; }
    // The status shown, and the exit status (or -1 when the tool did not end normally).
    QString status() const;
    int exitStatus() const { return m_exitStatus; }

    // What the window shows, as text: title, command line, progress, status, last error and
    // output. Written to the file named by VELMORA_CONSOLE_REPORT when the tool ends (a test
    // hook: the console then quits, so that tests can read what a real console process showed).
    QString report() const;

    // Asks the user to confirm stopping the tool; tests answer without a dialog.
    void setConfirmation(std::function<bool(const QString& question)> confirm);

Q_SIGNALS:
    // The tool has ended (or could not start) and its result is shown.
    void toolFinished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void read(QProcess::ProcessChannel channel);
    void take(const QString& line, QProcess::ProcessChannel channel);
    void flush();
    void askToStop();
    void finished(int code, QProcess::ExitStatus how);
    void failedToStart(QProcess::ProcessError error);
    void showResult(bool success, const QString& text);

    QStringList m_command;
    QString m_toolName;
    QProcess m_tool;
    LineSplitter m_stdout;
    LineSplitter m_stderr;
    QString m_batch;
    QTimer m_flushTimer;
    QString m_lastError;
    int m_exitStatus = -1;
    int m_highestProgress = 0;
    bool m_closeWhenDone = false;
    bool m_ended = false;
    std::function<bool(const QString&)> m_confirm;
    std::function<void()> m_ending; // shows the result once the output is all in view

    QLabel* m_commandLine = nullptr;
    QPlainTextEdit* m_output = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_progressDetail = nullptr;
    QLabel* m_statusIcon = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_lastErrorLabel = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_close = nullptr;
};

} // namespace velmora::console
