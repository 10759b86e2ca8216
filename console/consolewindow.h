// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window launched tools run in, as a console program gets one on Windows: one row for each
// tool (what it works on, a progress bar, its state), and below the rows the selected tool's
// command line, output, progress and result. The window stays until the user closes it; Stop
// and closing the window while tools run ask first, then end them with SIGTERM.
//
// Every tool runs at once (dat2file runs that read one drive take turns by themselves). The
// window is raised when a tool comes, but never takes the keyboard from the window the user is
// typing in.

#include <QMainWindow>
#include <QPointer>
#include <QProcessEnvironment>
#include <QStringList>

#include <functional>

class QLabel;
class QMessageBox;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace velmora::console {

class ToolJob;
class ToolModel;
struct Announcement;

class ConsoleWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit ConsoleWindow(QWidget* parent = nullptr);
    // The window with one tool, `command` (the program, then its arguments), to be run in the
    // current folder by start().
    explicit ConsoleWindow(QStringList command, QWidget* parent = nullptr);
    ~ConsoleWindow() override;

    // A new row for a tool; start() starts it.
    ToolJob* addTool(QStringList command, QString folder, QProcessEnvironment environment);
    // Starts the tools added since.
    void start();

    const QList<ToolJob*>& jobs() const;
    ToolJob* selectedJob() const;
    void select(ToolJob* job);
    // Whether a tool is still running or waiting.
    bool running() const;
    // The selected tool's status, and its exit status (-1 when it did not end normally).
    QString status() const;
    int exitStatus() const;

    // What the window shows, as text: for each tool its title, command line, progress, status,
    // last error and output, then the number of rows. Written to the file named by
    // VELMORA_CONSOLE_REPORT once every tool has ended (a test hook: the console then quits, so
    // that tests can read what a real console process showed).
    QString report() const;

    // Asks the user to confirm stopping tools; tests answer without a dialog.
    void setConfirmation(std::function<bool(const QString& question)> confirm);
    // Tells the desktop that a tool ended while the window was not the active one; tests
    // record instead.
    void setAnnouncer(std::function<void(const Announcement&)> announce);
    // Asks where to save a tool's whole output (nothing: not saved); tests answer without a
    // dialog.
    void setSaveDialog(std::function<QString(const QString& suggested)> ask);
    // The most bytes the window's tools keep for "Save output", together (1 GiB unless set):
    // past it, the oldest tools' are let go first, and the status line says so.
    void setSpoolBound(qint64 bytes) { m_spoolBound = bytes; }
    // How a folder is opened for "Open folder" (the desktop's file manager unless set).
    void setFolderOpener(std::function<void(const QString& folder)> open);

Q_SIGNALS:
    // A tool has ended (or could not start, or was stopped before it started).
    void toolFinished();
    // No tool runs or waits any more.
    void allFinished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void createRows(QWidget* central);
    void createOutputViews(QWidget* central);
    void createStatusViews(QWidget* central);
    void createButtons(QWidget* central);
    void layOut(QWidget* central);
    void updateTitle();
    void showSelected();
    void showProgress();
    void showState();
    void followOutput();
    void showDropped();
    void saveOutput();
    void checkShown();
    void openShownFolder();
    void showFollowUp();
    void keepSpoolsWithinBound(ToolJob* growing);
    void jobEnded(ToolJob* job);
    void askToStop();
    bool askUser(const QString& question);
    bool confirm(const QString& question, const QList<ToolJob*>& tools);

    ToolModel* m_model = nullptr; // the tools, in the order they came
    QList<ToolJob*> m_notStarted; // added, not started yet
    std::function<bool(const QString&)> m_confirm;
    std::function<QString(const QString&)> m_askWhereToSave;
    qint64 m_spoolBound = qint64(1) << 30;
    bool m_closeWhenDone = false;
    bool m_followEnd = true;
    ToolJob* m_shown = nullptr;
    std::function<void(const Announcement&)> m_announce;
    // Tools that ended while the user was elsewhere, told together once none runs.
    QList<QPointer<ToolJob>> m_unannounced;
    QPointer<QMessageBox> m_question; // the open question, if one is
    QList<ToolJob*> m_askedAbout;     // the tools it asks about

    QTreeView* m_rows = nullptr;
    QPlainTextEdit* m_commandLine = nullptr;
    QLabel* m_dropped = nullptr;
    QPlainTextEdit* m_output = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_progressDetail = nullptr;
    QLabel* m_statusIcon = nullptr;
    QLabel* m_status = nullptr;
    QPlainTextEdit* m_lastErrorLabel = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_check = nullptr;
    QPushButton* m_openFolder = nullptr;
    QProgressBar* m_health = nullptr;
    std::function<void(const QString&)> m_openFolderWith;
    QPushButton* m_stop = nullptr;
    QPushButton* m_close = nullptr;
};

} // namespace velmora::console
