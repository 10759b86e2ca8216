// SPDX-License-Identifier: GPL-3.0-or-later
// The console window: its rules on text, the window run in this process with a scripted tool,
// and the real console program started by the real launcher.

#include "console/announcement.h"
#include "console/consolewindow.h"
#include "console/outputlog.h"
#include "console/texts.h"
#include "console/tooljob.h"
#include "console/toolmodel.h"
#include "console/toolrun.h"
#include "linessink.h"
#include "platform/qtservices.h"
#include "platform/qttranslations.h"
#include "terminal/progress.h"
#include "tools/commandlines.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTranslator>
#include <QTreeView>
#include <QtTest>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace velmora;
using namespace velmora::console;
using velmora::test::LinesSink;

namespace {

const QString kScriptedTool = QStringLiteral(SCRIPTED_TOOL);

QString readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Waits for a file that a detached process writes whole (it renames it into place).
QString waitForFile(const QString& path, int milliseconds = 20000) {
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(path) && waited.elapsed() < milliseconds)
        QTest::qWait(20);
    return readAll(path);
}

} // namespace

namespace {

// `count` files "clip N.mpg" of about half a megabyte in `folder`, each of its own bytes: their
// paths.
QStringList clipsIn(const QString& folder, int count) {
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        QFile file(QDir(folder).filePath(u"clip %1.mpg"_qs.arg(i)));
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray(500'000 + i, char('a' + i)));
        paths << file.fileName();
    }
    return paths;
}

} // namespace

class ConsoleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void progressLinesOfBothTools_data();
    void progressLinesOfBothTools();
    void progressLinesOfTheWriterAreRead();
    void textArrivesInPieces();
    void viewShowsExactlyTheTextWritten();
    void viewKeepsTheLastLinesWithinBounds();
    void titleAndCommandLine();

    void outputAndProgressAppearAsTheToolRuns();
    void failureShowsStatusAndLastErrorLine_data();
    void failureShowsStatusAndLastErrorLine();
    void stopAsksFirstThenEndsTheTool();
    void closingWhileRunningAsksTheSame();
    void stubbornToolIsEndedOnASecondStop();
    void windowCanAlwaysBeClosed();
    void toolEndsWithItsConsole();
    void longLinesAndEmptyLinesShowAsWritten();
    void floodIsBoundedAndSavedWhole();
    void savedOutputKeepsTheLastBytesWithinItsBound();
    void savingOntoAFullDiskKeepsTheFileItWouldReplace();
    void theWindowsSavedOutputIsBoundedOldestFirst();
    void aWarningOfAToolThatEndedWellIsSaidFirst();
    void followUpsAndMarginsFromTheToolsOwnWords();
    void aBuildIsCheckedFromItsRowAndItsFolderOpened();
    void whatAToolWritesShowsInTheOrderItWroteIt();
    void longTextsNeverWidenTheWindow();
    void everyControlIsNamed();
    void toolsAreRowsOfOneWindow();
    void rowsComeFromAModelThatKeepsItsContract();
    void closingAsksOnceForAllTools();
    void endsAreAnnouncedToAUserInAnotherWindow();
    void percentAndLongTextsShowWhole();
    void aQuestionWhoseToolsEndedClosesItself();
    void yesAppliesOnlyToWhatStillRuns();
    void newToolsLeaveTheKeyboardWhereItIs();

    void launcherStartsTheToolInTheConsoleInTheCurrentFolder();
    void questionsAreInTheUsersLanguage();
    void launchesShareOneConsoleWindow();
    void usageNeedsNoDisplay();
    void launcherWithoutConsoleStartsTheToolDirectly();
    void launcherReportsAToolThatCannotStart();
};

void ConsoleTest::progressLinesOfBothTools_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("percent"); // -1: not a progress line
    QTest::addColumn<QString>("detail");
    QTest::newRow("image tool") << u"velmora_tolk: progress 42% file 3 of 7: a b.dat"_qs << 42
                                << u"file 3 of 7: a b.dat"_qs;
    QTest::newRow("extraction tool") << u"dat2file: progress 100%"_qs << 100 << QString();
    QTest::newRow("zero") << u"dat2file: progress 0%"_qs << 0 << QString();
    QTest::newRow("over 100") << u"dat2file: progress 101%"_qs << -1 << QString();
    QTest::newRow("no percent sign") << u"dat2file: progress 5"_qs << -1 << QString();
    QTest::newRow("glued detail") << u"dat2file: progress 5%x"_qs << -1 << QString();
    QTest::newRow("no tool") << u": progress 5%"_qs << -1 << QString();
    QTest::newRow("inside a message")
        << u"dat2file: \"a: progress 5%\" exists already"_qs << -1 << QString();
    QTest::newRow("an ordinary line")
        << u"velmora_tolk: wrote a.bin and a.cue"_qs << -1 << QString();
}

void ConsoleTest::progressLinesOfBothTools() {
    QFETCH(QString, line);
    QFETCH(int, percent);
    QFETCH(QString, detail);
    const std::optional<Progress> progress = progressOf(line);
    QCOMPARE(progress.has_value(), percent >= 0);
    if (progress) {
        QCOMPARE(progress->percent, percent);
        QCOMPARE(progress->detail, detail);
    }
}

// The lines the tools write, made by their own writer, read back by the console's parser.
void ConsoleTest::progressLinesOfTheWriterAreRead() {
    for (const int percent : {0, 7, 100})
        for (const std::string& detail : {std::string(), std::string("file 2 of 7: a b.dat"),
                                          std::string("waiting for /dev/sr0")}) {
            const std::string line = cdimage::progressLineText("dat2file", percent, detail);
            const std::optional<Progress> read = progressOf(QString::fromStdString(line));
            QVERIFY2(read, line.c_str());
            QCOMPARE(read->percent, percent);
            QCOMPARE(read->detail, QString::fromStdString(detail));
        }
}

void ConsoleTest::textArrivesInPieces() {
    StreamText text;
    QCOMPARE(text.add("ab"), u"ab"_qs);
    QCOMPARE(text.add("c\r"), u"c\n"_qs);
    QCOMPARE(text.add("\n\n"), u"\n"_qs);  // CR LF is one break, then another
    QCOMPARE(text.add("\xc3"), QString()); // a character cut in two
    QCOMPARE(text.add("\xa9t\rx"), u"ét\nx"_qs);
    QCOMPARE(text.add("\xe2\x82"), QString());
    QCOMPARE(text.finish(), QString::fromUtf8("\xe2\x82")); // unfinished at the end
}

namespace {

// Output of every shape: empty lines first, lines long and short, with or without a last break.
QString someOutput(QRandomGenerator& random) {
    QString text;
    const int lines = random.bounded(1, 60);
    for (int i = 0; i < lines; ++i) {
        const int kind = random.bounded(4);
        const qsizetype length = kind == 0   ? 0
                                 : kind == 3 ? random.bounded(1, 300000)
                                             : random.bounded(1, 80);
        text += QString(length, QChar(u'a' + i % 26));
        if (i + 1 < lines || random.bounded(2) == 0)
            text += u'\n';
    }
    return text;
}

} // namespace

// Whatever pieces the output comes in, and however the view is given it, the view shows the
// text the tool wrote.
void ConsoleTest::viewShowsExactlyTheTextWritten() {
    QRandomGenerator random(7);
    for (int round = 0; round < 200; ++round) {
        const QString written = someOutput(random);
        OutputLog log({1'000'000, 100'000'000, 1'000'000}); // bounds out of the way
        LinesSink view;
        for (qsizetype at = 0; at < written.size();) {
            const qsizetype piece = random.bounded(1, 70000);
            log.add(QStringView(written).mid(at, piece));
            at += piece;
            if (random.bounded(3) == 0)
                log.flushTo(view, random.bounded(1, 100000));
        }
        while (log.flushTo(view, random.bounded(1, 100000))) {
        }
        QCOMPARE(view.text(), written);
        QCOMPARE(log.droppedLines(), 0);
    }
}

// Within its bounds the view keeps the last lines, whatever comes, and says how many went.
void ConsoleTest::viewKeepsTheLastLinesWithinBounds() {
    QRandomGenerator random(8);
    const OutputLog::Limits limits{50, 4000, 1000};
    for (int round = 0; round < 200; ++round) {
        OutputLog log(limits);
        LinesSink view;
        QStringList lines;
        const int count = random.bounded(1, 400);
        for (int i = 0; i < count; ++i) {
            const QString line = QString::number(i) + QString(random.bounded(0, 300), u'.');
            lines.append(line);
            log.add(QString(line + u'\n'));
            if (random.bounded(4) == 0)
                log.flushTo(view, random.bounded(1, 5000));
            QVERIFY(view.lines.size() <= limits.lines + 1);
            QVERIFY(view.text().size() <= limits.characters + limits.lines);
        }
        while (log.flushTo(view, random.bounded(1, 5000))) {
        }
        QVERIFY(view.text().endsWith(lines.last() + u'\n'));
        const qsizetype kept = view.lines.size() - 1; // and the empty line being written
        QCOMPARE(log.droppedLines() + kept, count);
        QCOMPARE(view.lines.mid(0, kept), lines.mid(count - kept));
    }
    // A line past its own bound is cut, and says by how much.
    OutputLog log(limits);
    LinesSink view;
    log.add(QString(QString(1500, u'x') + u"\nnext"_qs));
    log.flushTo(view, 10000);
    QCOMPARE(view.lines,
             (QStringList{QString(1000, u'x') + u" [… 500 more characters]"_qs, u"next"_qs}));
}

void ConsoleTest::titleAndCommandLine() {
    QCOMPARE(windowTitle({u"/usr/bin/velmora_tolk"_qs, u"-v"_qs, u"V"_qs, u"-o"_qs, u"Mon CD"_qs,
                          u"-m"_qs, u"/a.bin"_qs}),
             u"velmora_tolk — Mon CD"_qs);
    QCOMPARE(windowTitle({u"/usr/bin/dat2file"_qs, u"/cd/a.bin"_qs, u"/out/cd/a.bin"_qs}),
             u"dat2file — /out/cd/a.bin"_qs);
    QCOMPARE(windowTitle({u"tool"_qs}), u"tool"_qs);
    QCOMPARE(commandLineOf({u"/opt/my tools/t"_qs, u"-v"_qs, u""_qs, u"a b"_qs}),
             uR"("/opt/my tools/t" -v "" "a b")"_qs);
    QCOMPARE(signalName(SIGTERM), u"SIGTERM"_qs);
}

void ConsoleTest::outputAndProgressAppearAsTheToolRuns() {
    ConsoleWindow window({kScriptedTool, u"lines"_qs, u"200"_qs});
    auto* bar = window.findChild<QProgressBar*>(u"progress"_qs);
    QList<int> seen;
    connect(bar, &QProgressBar::valueChanged, this, [&](int value) { seen.append(value); });
    QSignalSpy finished(&window, &ConsoleWindow::toolFinished);
    window.show();
    window.start();
    QVERIFY(finished.wait(10000));
    const QString output = window.findChild<QPlainTextEdit*>(u"output"_qs)->toPlainText();
    QCOMPARE(output.count(u'\n'), 200); // exactly the lines written, each with its break
    QVERIFY(output.startsWith(u"line 1\nline 2\n"_qs));
    QVERIFY(output.endsWith(u"line 200\n"_qs));
    QVERIFY2(!output.contains(u"progress"_qs), "progress lines feed the bar, not the text");
    QVERIFY2(seen.size() >= 10, qPrintable(QString::number(seen.size())));
    QVERIFY(std::is_sorted(seen.cbegin(), seen.cend()));
    QCOMPARE(bar->value(), 100);
    QCOMPARE(window.findChild<QLabel*>(u"progressDetail"_qs)->text(), u"line 200"_qs);
    QCOMPARE(window.exitStatus(), 0);
    QCOMPARE(window.status(), texts::kSucceeded.arg(u"scripted_tool"_qs));
    QVERIFY(window.findChild<QPlainTextEdit*>(u"lastError"_qs)->isHidden());
    QVERIFY(!window.findChild<QPushButton*>(u"stop"_qs)->isEnabled());
    QVERIFY(window.isVisible()); // it stays until the user closes it
}

void ConsoleTest::failureShowsStatusAndLastErrorLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("lastError");
    // A tool that could not go on: its last error. One that ran to its end and told damage:
    // its closing line, never the last warning it gave on the way.
    QTest::newRow("exit status 1")
        << QStringList{u"fail"_qs, u"1"_qs} << texts::kFailed.arg(u"scripted_tool"_qs).arg(1)
        << u"scripted_tool: the real reason"_qs;
    QTest::newRow("exit status 3")
        << QStringList{u"fail"_qs, u"3"_qs} << texts::kFailed.arg(u"scripted_tool"_qs).arg(3)
        << u"scripted_tool: wrote 2 files, 1 damaged"_qs;
    QTest::newRow("a signal")
        << QStringList{u"crash"_qs}
        << texts::kKilled.arg(u"scripted_tool"_qs).arg(SIGABRT).arg(u"SIGABRT"_qs) << QString();
}

void ConsoleTest::failureShowsStatusAndLastErrorLine() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, status);
    QFETCH(QString, lastError);
    ConsoleWindow window(QStringList{kScriptedTool} + arguments);
    QSignalSpy finished(&window, &ConsoleWindow::toolFinished);
    window.show();
    window.start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(window.status(), status);
    auto* error = window.findChild<QPlainTextEdit*>(u"lastError"_qs);
    QCOMPARE(error->isVisible(), !lastError.isEmpty());
    if (!lastError.isEmpty())
        QCOMPARE(error->toPlainText(), lastError);
    QVERIFY(!window.findChild<QLabel*>(u"statusIcon"_qs)->pixmap().isNull());
    QVERIFY(window.findChild<QLabel*>(u"status"_qs)->accessibleName().contains(status));
}

void ConsoleTest::stopAsksFirstThenEndsTheTool() {
    ConsoleWindow window({kScriptedTool, u"wait"_qs});
    QStringList asked;
    bool answer = false;
    window.setConfirmation([&](const QString& question) {
        asked.append(question);
        return answer;
    });
    QSignalSpy finished(&window, &ConsoleWindow::toolFinished);
    window.show();
    window.start();
    auto* bar = window.findChild<QProgressBar*>(u"progress"_qs);
    QTRY_COMPARE(bar->value(), 10);
    auto* stop = window.findChild<QPushButton*>(u"stop"_qs);

    QTest::mouseClick(stop, Qt::LeftButton); // answered No
    QCOMPARE(asked, QStringList{texts::kConfirmStop.arg(u"scripted_tool"_qs)});
    QTest::qWait(200);
    QVERIFY(window.running());

    answer = true;
    QTest::keyClick(stop, Qt::Key_Space);
    QCOMPARE(asked.size(), 2);
    QVERIFY(finished.wait(10000));
    // Said as what the user did, not as a failure.
    QCOMPARE(window.status(), texts::kStoppedByYou.arg(u"scripted_tool"_qs));
    QVERIFY(window.isVisible());
}

namespace {

// Whether a process has ended (a zombie nobody has collected yet counts as ended).
bool processGone(qint64 pid) {
    QFile stat(u"/proc/%1/stat"_qs.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray facts = stat.readAll();
    const qsizetype afterName = facts.lastIndexOf(')');
    return afterName < 0 || facts.mid(afterName + 2, 1) == "Z";
}

qint64 pidIn(const QString& path) {
    QElapsedTimer waited;
    waited.start();
    while (readAll(path).trimmed().isEmpty() && waited.elapsed() < 10000)
        QTest::qWait(20);
    return readAll(path).trimmed().toLongLong();
}

} // namespace

// A tool that ignores SIGTERM: after a few seconds the status says so, and Stop again ends it.
void ConsoleTest::stubbornToolIsEndedOnASecondStop() {
    QTemporaryDir folder;
    ConsoleWindow window({kScriptedTool, u"stubborn"_qs, folder.filePath(u"pid"_qs)});
    QStringList asked;
    window.setConfirmation([&](const QString& question) {
        asked.append(question);
        return true;
    });
    window.jobs().first()->setStopGrace(300);
    window.show();
    window.start();
    const qint64 pid = pidIn(folder.filePath(u"pid"_qs));
    QVERIFY(pid > 0);
    auto* stop = window.findChild<QPushButton*>(u"stop"_qs);
    QTest::mouseClick(stop, Qt::LeftButton);
    QCOMPARE(window.status(), texts::kStopping.arg(u"scripted_tool"_qs));
    QTRY_COMPARE(window.status(), texts::kDoesNotStop.arg(u"scripted_tool"_qs));
    QVERIFY(!processGone(pid));
    QVERIFY(stop->isEnabled());
    QTest::mouseClick(stop, Qt::LeftButton);
    QTRY_VERIFY(!window.running());
    QCOMPARE(asked.size(), 1); // the second press is the user's answer already
    QCOMPARE(window.status(), texts::kStoppedByYou.arg(u"scripted_tool"_qs));
    QTRY_VERIFY(processGone(pid));
}

// The window can always be closed: a second close ends what would not stop.
void ConsoleTest::windowCanAlwaysBeClosed() {
    QTemporaryDir folder;
    ConsoleWindow window({kScriptedTool, u"stubborn"_qs, folder.filePath(u"pid"_qs)});
    window.setConfirmation([](const QString&) { return true; });
    window.jobs().first()->setStopGrace(300);
    window.show();
    window.start();
    const qint64 pid = pidIn(folder.filePath(u"pid"_qs));
    QVERIFY(!window.close());
    QTest::qWait(500);
    QVERIFY(window.isVisible() && window.running());
    window.close();
    QTRY_VERIFY(!window.isVisible());
    QTRY_VERIFY(processGone(pid));
}

// The console ended from outside (the session closing, a kill): its tool ends with it.
void ConsoleTest::toolEndsWithItsConsole() {
    for (const int signal : {SIGTERM, SIGHUP, SIGKILL}) {
        QTemporaryDir folder;
        QProcess console;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"VELMORA_CONSOLE_NAME"_qs, folder.filePath(u"console"_qs));
        console.setProcessEnvironment(environment);
        console.start(QStringLiteral(VELMORA_CONSOLE),
                      {kScriptedTool, u"stubborn"_qs, folder.filePath(u"pid"_qs)});
        const qint64 pid = pidIn(folder.filePath(u"pid"_qs));
        QVERIFY(pid > 0);
        ::kill(pid_t(console.processId()), signal);
        QVERIFY(console.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), 10000);
    }
}

void ConsoleTest::closingWhileRunningAsksTheSame() {
    ConsoleWindow window({kScriptedTool, u"wait"_qs});
    int asked = 0;
    bool answer = false;
    window.setConfirmation([&](const QString&) {
        ++asked;
        return answer;
    });
    QSignalSpy finished(&window, &ConsoleWindow::toolFinished);
    window.show();
    window.start();
    QTRY_VERIFY(window.running());
    QVERIFY(!window.close());
    QCOMPARE(asked, 1);
    QVERIFY(window.isVisible() && window.running());

    answer = true;
    window.close();
    QVERIFY(finished.wait(10000));
    QTRY_VERIFY(!window.isVisible());
    QCOMPARE(asked, 2);
}

// Empty lines first, then a long line written in pieces: shown as written; a line past the
// bound of one line is cut, and says by how much.
void ConsoleTest::longLinesAndEmptyLinesShowAsWritten() {
    const QList<std::pair<int, QString>> cases = {
        {16000, QString(16000, u'x')},
        {300000, QString(16384, u'x') + u" [… 283616 more characters]"_qs},
    };
    for (const auto& [length, shown] : cases) {
        ConsoleWindow window({kScriptedTool, u"long"_qs, QString::number(length)});
        QSignalSpy finished(&window, &ConsoleWindow::toolFinished);
        window.show();
        window.start();
        QVERIFY(finished.wait(20000));
        QCOMPARE(window.findChild<QPlainTextEdit*>(u"output"_qs)->toPlainText(),
                 u"\n\n"_qs + shown + u"\nend\n"_qs);
    }
}

// Ten million short lines: the view keeps the last hundred thousand, says how many went, and
// the whole output can still be saved.
void ConsoleTest::floodIsBoundedAndSavedWhole() {
    QTemporaryDir folder;
    ConsoleWindow window({kScriptedTool, u"short"_qs, u"2000000"_qs});
    window.setSaveDialog([&](const QString&) { return folder.filePath(u"all.txt"_qs); });
    QSignalSpy finished(&window, &ConsoleWindow::toolFinished);
    window.show();
    window.start();
    QVERIFY(finished.wait(120000));
    auto* output = window.findChild<QPlainTextEdit*>(u"output"_qs);
    QCOMPARE(output->document()->blockCount(), 100000 + 1);
    auto* dropped = window.findChild<QLabel*>(u"dropped"_qs);
    QVERIFY(dropped->isVisible());
    QCOMPARE(dropped->text(), texts::kDropped.arg(1900000));
    QTest::mouseClick(window.findChild<QPushButton*>(u"saveOutput"_qs), Qt::LeftButton);
    QFile saved(folder.filePath(u"all.txt"_qs));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.size(), 4000000);
}

// The spool keeps the last bytes within its bound; the saved file says how many went before
// them, is offered in the tool's folder, gets the user's usual mode, and the status line says
// where it went.
void ConsoleTest::savedOutputKeepsTheLastBytesWithinItsBound() {
    QTemporaryDir folder;
    QByteArray written;
    for (int n = 1; n <= 100000; ++n)
        written += QByteArray::number(n) + '\n';
    ConsoleWindow window;
    ToolJob* job = window.addTool({u"/usr/bin/seq"_qs, u"1"_qs, u"100000"_qs}, folder.path(),
                                  QProcessEnvironment::systemEnvironment());
    job->setSpoolLimit(100000);
    QString offered;
    window.setSaveDialog([&](const QString& suggested) {
        offered = suggested;
        return folder.filePath(u"out.txt"_qs);
    });
    QSignalSpy finished(&window, &ConsoleWindow::toolFinished);
    window.show();
    window.start();
    QVERIFY(finished.wait(30000));
    QTest::mouseClick(window.findChild<QPushButton*>(u"saveOutput"_qs), Qt::LeftButton);
    QCOMPARE(QFileInfo(offered).absolutePath(), folder.path());
    QFile saved(folder.filePath(u"out.txt"_qs));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray note = saved.readLine();
    QCOMPARE(QString::fromUtf8(note),
             texts::kSavedLeftOut.arg(written.size() - 100000).arg(100000));
    QCOMPARE(saved.readAll(), written.right(100000));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status {};
    QCOMPARE(::stat(QFile::encodeName(saved.fileName()).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, 0666 & ~mask);
    QCOMPARE(window.statusBar()->currentMessage(),
             texts::kSavedAs.arg(folder.filePath(u"out.txt"_qs)));
}

// The disk fills while the output is saved (a limit on the size of the files this process
// writes stands for it): the save says why it failed, the file it would have replaced is as it
// was, and nothing else is left in the folder. Then, with room, it replaces it.
void ConsoleTest::savingOntoAFullDiskKeepsTheFileItWouldReplace() {
    QTemporaryDir folder;
    const QString path = folder.filePath(u"out.txt"_qs);
    const auto contents = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    {
        QFile kept(path);
        QVERIFY(kept.open(QIODevice::WriteOnly));
        kept.write("what the user kept here\n");
    }
    ConsoleWindow window;
    ToolJob* job = window.addTool({u"/usr/bin/seq"_qs, u"1"_qs, u"100000"_qs}, folder.path(),
                                  QProcessEnvironment::systemEnvironment());
    QSignalSpy finished(&window, &ConsoleWindow::toolFinished);
    window.show();
    window.start();
    QVERIFY(finished.wait(30000));
    struct rlimit before {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit full = before;
    full.rlim_cur = 64 * 1024;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &full), 0);
    const std::optional<QString> why = job->saveOutput(path);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(why.has_value());
    QCOMPARE(contents(), QByteArray("what the user kept here\n"));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"out.txt"_qs});
    QVERIFY(!job->saveOutput(path).has_value());
    QVERIFY(contents().endsWith("99999\n100000\n"));
}

// Three noisy tools in one window whose saved output is bounded below what they write
// together: the oldest tool's is let go, saying so, the newer ones' kept whole.
void ConsoleTest::theWindowsSavedOutputIsBoundedOldestFirst() {
    QTemporaryDir folder;
    ConsoleWindow window;
    window.setSpoolBound(qint64(2) << 20);
    QList<ToolJob*> jobs;
    for (int i = 0; i < 3; ++i) // 868,895 bytes each
        jobs << window.addTool({u"/usr/bin/seq"_qs, u"1"_qs, u"140000"_qs}, folder.path(),
                               QProcessEnvironment::systemEnvironment());
    QSignalSpy finished(&window, &ConsoleWindow::toolFinished);
    window.show();
    window.start();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 3, 30000);
    QVERIFY(!jobs[0]->canSaveOutput());
    QCOMPARE(jobs[0]->saveOutput(folder.filePath(u"first.txt"_qs)), texts::kSpoolLetGo.arg(2));
    QVERIFY(window.statusBar()->currentMessage().startsWith(texts::kSpoolsLetGo.left(20)));
    for (ToolJob* job : {jobs[1], jobs[2]}) {
        QVERIFY(!job->saveOutput(folder.filePath(u"kept.txt"_qs)).has_value());
        QCOMPARE(QFileInfo(folder.filePath(u"kept.txt"_qs)).size(), 868895);
    }
}

// A build that got fewer repair bands than asked ends well, but not as "Done": its row, its
// status line (the warning first), its icon and its notification say so. The repair data's
// footnotes of a read are no such warning.
void ConsoleTest::aWarningOfAToolThatEndedWellIsSaidFirst() {
    const QString warning = u"only 19 of the 32 repair bands asked fit with the files on an "
                            "80-minute disc"_qs;
    const QString closing =
        u"velmora_tolk: wrote \"FULL.bin\": 79 min 54 s of an 80-minute disc"_qs;
    ConsoleWindow window;
    QList<Announcement> told;
    window.setAnnouncer([&](const Announcement& announcement) { told.append(announcement); });
    window.addTool({u"/bin/sh"_qs, u"-c"_qs,
                    u"echo 'velmora_tolk: warning: %1' >&2; echo '%2'"_qs.arg(warning, closing)},
                   QDir::tempPath(), QProcessEnvironment::systemEnvironment());
    window.addTool({u"/bin/sh"_qs, u"-c"_qs,
                    u"echo 'dat2file: wrote 3 files'; echo 'dat2file: warning: the repair data "
                    "is degraded: a header copy cannot be read' >&2"_qs},
                   QDir::tempPath(), QProcessEnvironment::systemEnvironment());
    QWidget elsewhere;
    window.show();
    elsewhere.show();
    elsewhere.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    window.start();
    QTRY_VERIFY(!window.running());
    const ToolJob* build = window.jobs().at(0);
    QCOMPARE(build->state(), ToolJob::State::Warned);
    QCOMPARE(build->status(), texts::kWarned.arg(warning, u"sh"_qs));
    QCOMPARE(rowState(*build), texts::kRowWarned);
    QCOMPARE(announcementOf(*build).body, warning + u'\n' + closing);
    QCOMPARE(window.jobs().at(1)->state(), ToolJob::State::Succeeded);
    QTRY_COMPARE(told.size(), 1);
    QCOMPARE(told.at(0).summary, texts::kBatchTools.arg(2) + u": "_qs +
                                     texts::kBatchEnds.arg(1).arg(0).arg(0).arg(0).arg(1));
    QVERIFY(told.at(0).body.contains(warning));
}

// What a finished row offers, read from its command line: the image a build wrote (its .cue,
// whatever ending -o had), the source an extraction read; the margin, in both of dat2file's
// phrasings, past the limit too.
void ConsoleTest::followUpsAndMarginsFromTheToolsOwnWords() {
    const auto build = followUpOf({u"/opt/v/velmora_tolk"_qs, u"--repair"_qs, u"40"_qs, u"-v"_qs,
                                   u"K"_qs, u"-o"_qs, u"Kestrel 2.bin"_qs, u"-m"_qs, u"-o"_qs},
                                  u"/home/u/cd"_qs);
    QVERIFY(build && build->built);
    QCOMPARE(build->check,
             (QStringList{u"/opt/v/dat2file"_qs, u"--check"_qs, u"/home/u/cd/Kestrel 2.cue"_qs}));
    QCOMPARE(build->folder, u"/home/u/cd"_qs);
    const auto read =
        followUpOf({u"/opt/v/dat2file"_qs, u"--force"_qs, u"../a.cue"_qs, u"out"_qs}, u"/h/cd"_qs);
    QVERIFY(read && !read->built);
    QCOMPARE(read->check, (QStringList{u"/opt/v/dat2file"_qs, u"--check"_qs, u"/h/a.cue"_qs}));
    QCOMPARE(read->folder, u"/h/cd/out"_qs);
    const auto one = followUpOf(
        {u"dat2file"_qs, u"--image"_qs, u"/d/a.bin"_qs, u"/F.DAT"_qs, u"/o/f.dat"_qs}, u"/"_qs);
    QVERIFY(one);
    QCOMPARE(one->check.last(), u"/d/a.bin"_qs);
    QVERIFY(!followUpOf({u"dat2file"_qs, u"--check"_qs, u"/d/a.bin"_qs}, u"/"_qs));
    QVERIFY(!followUpOf({u"/bin/sh"_qs, u"-c"_qs, u"true"_qs}, u"/"_qs));

    const auto margin = marginOf(u"dat2file: checked 3 files of \"a.cue\": 3 intact, 0 "
                                 "repairable, 0 damaged; the worst code word lost 2 of the 32 "
                                 "sectors it can lose"_qs);
    QVERIFY(margin && margin->lost == 2 && margin->canLose == 32);
    const auto beyond =
        marginOf(u"dat2file: repair data: 9 sectors unreadable, 0 rebuilt, 9 not "
                 "rebuildable; the worst code word lost 61 of the 32 it can lose"_qs);
    QVERIFY(beyond && beyond->lost == 61 && beyond->canLose == 32);
    const auto whole = marginOf(u"dat2file: checked 3 files of \"a.cue\": 3 intact, 0 repairable, "
                                "0 damaged; no code word lost a sector (each can lose 32)"_qs);
    QVERIFY(whole && whole->lost == 0 && whole->canLose == 32);
    QVERIFY(!marginOf(u"dat2file: wrote 3 files"_qs));
}

// A real build in the console: its row offers "Check image"; pressed, dat2file --check runs
// as a row of its own, lists every file intact and shows the disc's health as a gauge;
// "Open folder" opens the folder the image is in.
void ConsoleTest::aBuildIsCheckedFromItsRowAndItsFolderOpened() {
    QTemporaryDir folder;
    QStringList command = {
        QStringLiteral(VELMORA_TOLK), u"-v"_qs, u"KESTREL"_qs, u"-o"_qs, u"Kestrel"_qs, u"-m"_qs};
    command << clipsIn(folder.path(), 3);
    ConsoleWindow window;
    window.addTool(command, folder.path(), QProcessEnvironment::systemEnvironment());
    QString opened;
    window.setFolderOpener([&](const QString& path) { opened = path; });
    window.show();
    auto* check = window.findChild<QPushButton*>(u"check"_qs);
    auto* openFolder = window.findChild<QPushButton*>(u"openFolder"_qs);
    auto* health = window.findChild<QProgressBar*>(u"health"_qs);
    QVERIFY(check && openFolder && health);
    window.start();
    QTRY_VERIFY_WITH_TIMEOUT(window.jobs().first()->ended(), 30000);
    QCOMPARE(window.jobs().first()->state(), ToolJob::State::Succeeded);
    QVERIFY(check->isVisible() && check->isEnabled());
    QCOMPARE(check->text(), texts::kCheckImage);
    QTest::mouseClick(openFolder, Qt::LeftButton);
    QCOMPARE(opened, folder.path());

    QTest::mouseClick(check, Qt::LeftButton);
    QCOMPARE(window.jobs().size(), 2);
    ToolJob* checking = window.jobs().last();
    QCOMPARE(window.selectedJob(), checking);
    QCOMPARE(checking->command().mid(1),
             (QStringList{u"--check"_qs, folder.filePath(u"Kestrel.cue"_qs)}));
    QTRY_VERIFY_WITH_TIMEOUT(checking->ended(), 30000);
    QCOMPARE(checking->state(), ToolJob::State::Succeeded);
    const QString listing = checking->output()->toPlainText();
    for (int i = 0; i < 3; ++i)
        QVERIFY2(listing.contains(u"intact     clip %1.mpg"_qs.arg(i)), qPrintable(listing));
    QVERIFY(health->isVisible());
    QCOMPARE(health->maximum(), 32);
    QCOMPARE(health->value(), 32); // nothing lost: the whole margin left
    QCOMPARE(health->format(), texts::kHealthShort.arg(32).arg(32));
    QCOMPARE(health->accessibleDescription(), texts::kHealth.arg(0).arg(32));
    // A check offers nothing further of its own.
    QVERIFY(!check->isVisible());

    // Scratched: the check ends "repairable", which is no failure, and the gauge drops.
    {
        QFile image(folder.filePath(u"Kestrel.bin"_qs));
        QVERIFY(image.open(QIODevice::ReadWrite));
        image.seek(300 * 2352);
        image.write(QByteArray(12 * 2352, '\0'));
    }
    window.select(window.jobs().first());
    QTest::mouseClick(check, Qt::LeftButton);
    ToolJob* again = window.jobs().last();
    QTRY_VERIFY_WITH_TIMEOUT(again->ended(), 30000);
    QCOMPARE(again->state(), ToolJob::State::Warned);
    QCOMPARE(rowState(*again), texts::kRowRepairable);
    QCOMPARE(again->status(), texts::kCheckedRepairable.arg(u"dat2file"_qs));
    QCOMPARE(again->percent(), 100);
    QVERIFY(health->isVisible());
    QVERIFY2(health->value() < 32 && health->value() > 0, qPrintable(health->format()));
}

// A damaged image read without repair data: dat2file's warnings (standard error) come between
// the files it wrote (standard output). The console shows them in the order written, as one
// pipe gives them running it directly; the row still tells the closing line from the warnings.
void ConsoleTest::whatAToolWritesShowsInTheOrderItWroteIt() {
    QTemporaryDir folder;
    QStringList build = {QStringLiteral(VELMORA_TOLK),
                         u"--repair"_qs,
                         u"off"_qs,
                         u"-v"_qs,
                         u"ORDER"_qs,
                         u"-o"_qs,
                         u"order"_qs,
                         u"-m"_qs};
    build << clipsIn(folder.path(), 6);
    QProcess tolk;
    tolk.setWorkingDirectory(folder.path());
    tolk.start(build.first(), build.mid(1));
    QVERIFY(tolk.waitForFinished(30000) && tolk.exitCode() == 0);
    { // a sector of every other file zeroed
        QFile image(folder.filePath(u"order.bin"_qs));
        QVERIFY(image.open(QIODevice::ReadWrite));
        for (const qint64 sector : {60, 480, 900}) {
            image.seek(sector * 2352);
            image.write(QByteArray(2352, '\0'));
        }
    }
    const QStringList read = {QStringLiteral(DAT2FILE), u"order.cue"_qs, u"out"_qs};
    QProcess direct;
    direct.setWorkingDirectory(folder.path());
    direct.setProcessChannelMode(QProcess::MergedChannels);
    direct.start(read.first(), read.mid(1) + QStringList{});
    QVERIFY(direct.waitForFinished(30000));
    QCOMPARE(direct.exitCode(), 3);
    QStringList written;
    for (const QString& line : QString::fromUtf8(direct.readAll()).split(u'\n', Qt::SkipEmptyParts))
        if (!progressOf(line))
            written << line;
    QVERIFY2(written.size() > 6, qPrintable(written.join(u'\n')));

    QDir(folder.filePath(u"out"_qs)).removeRecursively();
    ConsoleWindow window;
    window.addTool(read, folder.path(), QProcessEnvironment::systemEnvironment());
    window.show();
    window.start();
    ToolJob* job = window.jobs().first();
    QTRY_VERIFY_WITH_TIMEOUT(job->ended(), 30000);
    QCOMPARE(job->output()->toPlainText().split(u'\n', Qt::SkipEmptyParts), written);
    QVERIFY2(job->summary().contains(u"damaged"_qs) && !job->summary().contains(u"warning"_qs),
             qPrintable(job->summary()));
}

// A storage path of 5,000 characters, a file name of 250 in a progress line, a long last error:
// the window stays within the screen, and each text is whole for a tooltip and a screen reader.
void ConsoleTest::longTextsNeverWidenTheWindow() {
    const QString path = u"/"_qs + QString(5000, u'p');
    const QString name = QString(250, u'n') + u".dat"_qs;
    ConsoleWindow window({kScriptedTool, u"detail"_qs, name, path});
    QSignalSpy finished(&window, &ConsoleWindow::toolFinished);
    window.show();
    window.start();
    QVERIFY(finished.wait(10000));
    const int available = window.screen()->availableGeometry().width();
    QVERIFY2(window.frameGeometry().width() <= available,
             qPrintable(QString::number(window.frameGeometry().width())));
    QVERIFY(window.minimumSizeHint().width() <= available);
    auto* detail = window.findChild<QLabel*>(u"progressDetail"_qs);
    QCOMPARE(detail->accessibleName(), name);
    QCOMPARE(detail->toolTip(), name);
    QCOMPARE(window.findChild<QPlainTextEdit*>(u"lastError"_qs)->toPlainText(), name);
    QVERIFY(window.findChild<QPlainTextEdit*>(u"commandLine"_qs)->toPlainText().endsWith(path));

    // The real console, its scale doubled.
    QTemporaryDir folder;
    QProcess console;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QT_SCALE_FACTOR"_qs, u"2"_qs);
    environment.insert(u"VELMORA_CONSOLE_NAME"_qs, folder.filePath(u"console"_qs));
    environment.insert(u"VELMORA_CONSOLE_REPORT"_qs, folder.filePath(u"report"_qs));
    console.setProcessEnvironment(environment);
    console.start(QStringLiteral(VELMORA_CONSOLE), {kScriptedTool, u"detail"_qs, name, path});
    QVERIFY(console.waitForFinished(20000));
    const QString report = readAll(folder.filePath(u"report"_qs));
    const auto width = QRegularExpression(u"window width: (\\d+) of (\\d+)"_qs).match(report);
    QVERIFY2(width.hasMatch(), qPrintable(report));
    QVERIFY2(width.captured(1).toInt() <= width.captured(2).toInt(), qPrintable(width.captured()));
}

void ConsoleTest::everyControlIsNamed() {
    ConsoleWindow window({kScriptedTool, u"lines"_qs, u"1"_qs});
    const QList<QWidget*> controls =
        window.centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(controls.size(), 15);
    for (const QWidget* control : controls) // a text is read by its text, and said what it is
        QVERIFY2(!control->accessibleName().isEmpty() ||
                     !control->accessibleDescription().isEmpty(),
                 qPrintable(control->objectName()));
    QCOMPARE(window.windowTitle(), u"scripted_tool — 1"_qs);
    // A screen reader meets a window named by its title, and the command line as text.
    QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(&window);
    QCOMPARE(frame->role(), QAccessible::Window);
    QCOMPARE(frame->text(QAccessible::Name), u"scripted_tool — 1"_qs);
    QAccessibleInterface* commandLine =
        QAccessible::queryAccessibleInterface(window.findChild<QPlainTextEdit*>(u"commandLine"_qs));
    QCOMPARE(commandLine->text(QAccessible::Name), texts::kCommandLineName);
    QCOMPARE(commandLine->text(QAccessible::Value),
             commandLineOf({kScriptedTool, u"lines"_qs, u"1"_qs}));
}

void ConsoleTest::toolsAreRowsOfOneWindow() {
    ConsoleWindow window;
    const QString folder = QDir::currentPath();
    const auto environment = QProcessEnvironment::systemEnvironment();
    ToolJob* first = window.addTool({kScriptedTool, u"lines"_qs, u"20"_qs}, folder, environment);
    ToolJob* second = window.addTool({kScriptedTool, u"fail"_qs, u"1"_qs}, folder, environment);
    QSignalSpy allDone(&window, &ConsoleWindow::allFinished);
    window.show();
    window.start();
    QVERIFY(allDone.wait(10000));
    auto* rows = window.findChild<QTreeView*>(u"rows"_qs);
    QVERIFY(rows->isVisible());
    const QAbstractItemModel* model = rows->model();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(window.windowTitle(), texts::kTitleOfMany.arg(2));
    QCOMPARE(model->index(0, 2).data().toString(), texts::kRowDone);
    QCOMPARE(model->index(1, 2).data().toString(), texts::kRowFailed.arg(1));
    // A row's progress is read as text too, with its detail.
    QAccessibleInterface* cell =
        QAccessible::queryAccessibleInterface(rows)->tableInterface()->cellAt(0, 1);
    QCOMPARE(cell->text(QAccessible::Name), u"100% line 20"_qs);

    // The selected row's output and result below the rows.
    auto* output = window.findChild<QPlainTextEdit*>(u"output"_qs);
    auto* lastError = window.findChild<QPlainTextEdit*>(u"lastError"_qs);
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {},
                      rows->visualRect(model->index(0, 0)).center());
    QCOMPARE(window.selectedJob(), first);
    QVERIFY(output->toPlainText().startsWith(u"line 1\nline 2\n"_qs));
    QVERIFY(lastError->isHidden());
    QTest::keyClick(rows, Qt::Key_Down);
    QCOMPARE(window.selectedJob(), second);
    QCOMPARE(output->toPlainText(), u"working\nscripted_tool: first problem\n"
                                    "scripted_tool: the real reason\n"_qs);
    QCOMPARE(lastError->toPlainText(), u"scripted_tool: the real reason"_qs);
    QVERIFY(window.report().endsWith(u"rows: 2\n"_qs));
}

// The rows' model, checked by Qt's own model tester as tools come, progress and end.
void ConsoleTest::rowsComeFromAModelThatKeepsItsContract() {
    ConsoleWindow window;
    auto* rows = window.findChild<QTreeView*>(u"rows"_qs);
    QAbstractItemModelTester tester(rows->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy changed(rows->model(), &QAbstractItemModel::dataChanged);
    const auto environment = QProcessEnvironment::systemEnvironment();
    for (int i = 0; i < 3; ++i)
        window.addTool({kScriptedTool, u"lines"_qs, u"5"_qs}, QDir::currentPath(), environment);
    QSignalSpy allDone(&window, &ConsoleWindow::allFinished);
    window.show();
    window.start();
    QVERIFY(allDone.wait(10000));
    QCOMPARE(rows->model()->rowCount(), 3);
    QVERIFY(changed.size() >= 3);
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(rows->model()->index(row, 1).data(Qt::UserRole).toInt(), 100);
        QCOMPARE(rows->model()->index(row, 1).data().toString(), u"100%"_qs);
        // When each started, which tells apart rows of the same command.
        const QString started =
            rows->model()->index(row, ToolModel::StartedColumn).data().toString();
        QVERIFY2(started == window.jobs().at(row)->startedAt().time().toString(u"HH:mm:ss"_qs) &&
                     !started.isEmpty(),
                 qPrintable(started));
    }
    QCOMPARE(rows->model()->headerData(ToolModel::StartedColumn, Qt::Horizontal).toString(),
             texts::kStartedColumn);
}

void ConsoleTest::closingAsksOnceForAllTools() {
    ConsoleWindow window;
    QStringList asked;
    window.setConfirmation([&](const QString& question) {
        asked.append(question);
        return true;
    });
    for (int i = 0; i < 3; ++i)
        window.addTool({kScriptedTool, u"wait"_qs}, QDir::currentPath(),
                       QProcessEnvironment::systemEnvironment());
    window.show();
    window.start();
    QTRY_VERIFY(window.jobs().last()->active());
    window.close();
    QCOMPARE(asked, QStringList{texts::kConfirmStopAll.arg(3)});
    QTRY_VERIFY(!window.isVisible());
    for (const ToolJob* job : window.jobs())
        QCOMPARE(job->state(), ToolJob::State::Stopped);
}

// The user confirms launch after launch in the main window while the console fills up.
// A tool that ends while the user is in another window is announced: what ended and how.
void ConsoleTest::endsAreAnnouncedToAUserInAnotherWindow() {
    ConsoleWindow window;
    QList<Announcement> told;
    window.setAnnouncer([&](const Announcement& announcement) { told.append(announcement); });
    window.show();
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    window.addTool({u"/bin/sh"_qs, u"-c"_qs, u"echo 'velmora_tolk: wrote Kestrel.bin'"_qs},
                   QDir::tempPath(), QProcessEnvironment::systemEnvironment());
    window.start();
    QTRY_COMPARE(told.size(), 1);
    QCOMPARE(told.at(0).summary, window.jobs().at(0)->title());
    QCOMPARE(told.at(0).body, u"velmora_tolk: wrote Kestrel.bin"_qs);
    QVERIFY(!told.at(0).failed);

    window.addTool({u"/bin/sh"_qs, u"-c"_qs, u"echo 'dat2file: no such image' >&2; exit 3"_qs},
                   QDir::tempPath(), QProcessEnvironment::systemEnvironment());
    window.start();
    QTRY_COMPARE(told.size(), 2);
    QVERIFY(told.at(1).failed);
    QCOMPARE(told.at(1).body,
             texts::kFailed.arg(u"sh"_qs).arg(3) + u"\ndat2file: no such image"_qs);

    // Tools launched together: one notification once the last has ended, counting each end
    // and naming the one that failed.
    for (const QString& script : {u"echo 'dat2file: wrote 3 files'"_qs,
                                  u"sleep 0.3; echo 'dat2file: cannot read' >&2; exit 1"_qs,
                                  u"sleep 0.6; echo 'dat2file: wrote 9 files'"_qs})
        window.addTool({u"/bin/sh"_qs, u"-c"_qs, script}, QDir::tempPath(),
                       QProcessEnvironment::systemEnvironment());
    window.start();
    QTRY_VERIFY(!window.running());
    QTest::qWait(100);
    QCOMPARE(told.size(), 3);
    QCOMPARE(told.at(2).summary, texts::kBatchTools.arg(3) + u": "_qs +
                                     texts::kBatchEnds.arg(2).arg(0).arg(1).arg(0).arg(0));
    QVERIFY(told.at(2).failed);
    QVERIFY2(told.at(2).body.contains(u"dat2file: cannot read"_qs), qPrintable(told.at(2).body));
    QVERIFY(!told.at(2).body.contains(u"wrote"_qs));

    // The user who watches the console needs no notification.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.addTool({u"/bin/true"_qs}, QDir::tempPath(), QProcessEnvironment::systemEnvironment());
    window.start();
    QTRY_VERIFY(!window.running());
    QTest::qWait(100);
    QCOMPARE(told.size(), 3);
}

// The percentage stands beside its bar, never under it; a long last error and a long command
// line show whole, over more lines and in a tooltip.
void ConsoleTest::percentAndLongTextsShowWhole() {
    const QString error = u"dat2file: "_qs + QString(600, u'e');
    ConsoleWindow window(
        {u"/bin/sh"_qs, u"-c"_qs,
         u"echo 'dat2file: progress 63% x' >&2; echo '%1' >&2; exit 2"_qs.arg(error)});
    window.show();
    window.start();
    QTRY_VERIFY(!window.running());
    auto* bar = window.findChild<QProgressBar*>(u"progress"_qs);
    QVERIFY(!bar->isTextVisible());
    QCOMPARE(window.findChild<QLabel*>(u"percent"_qs)->text(), u"63%"_qs);
    auto* lastError = window.findChild<QPlainTextEdit*>(u"lastError"_qs);
    QCOMPARE(lastError->toPlainText(), error);
    QCOMPARE(lastError->toolTip(), error);
    QVERIFY(lastError->height() >= 3 * lastError->fontMetrics().lineSpacing());
    auto* commandLine = window.findChild<QPlainTextEdit*>(u"commandLine"_qs);
    QCOMPARE(commandLine->toolTip(), commandLineOf(window.jobs().first()->command()));
}

namespace {

// Watches for the window's Stop or Close question: whether one was shown, and, as a safety net,
// answers it with No after `patience` ms, which a question that closes itself never needs.
struct QuestionWatch {
    bool shown = false;
    bool answeredByTest = false;
    QTimer poll;
    QElapsedTimer open;

    explicit QuestionWatch(int patience = 10000) {
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [this, patience] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (!shown)
                open.start();
            shown = true;
            if (open.elapsed() > patience) {
                answeredByTest = true;
                box->done(QMessageBox::No);
            }
        });
        poll.start();
    }
};

} // namespace

// A tool that ends while its Stop or Close question is open takes the question with it; the
// window asked to close then closes.
void ConsoleTest::aQuestionWhoseToolsEndedClosesItself() {
    const QStringList shortTool{u"/bin/sh"_qs, u"-c"_qs, u"sleep 1"_qs};
    {
        ConsoleWindow window(shortTool);
        window.show();
        window.start();
        QuestionWatch watch;
        QTimer::singleShot(0, &window, [&] {
            QTest::mouseClick(window.findChild<QPushButton*>(u"stop"_qs), Qt::LeftButton);
        });
        QTRY_VERIFY_WITH_TIMEOUT(watch.shown, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!window.running(), 15000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QVERIFY(!watch.answeredByTest);
        QCOMPARE(window.jobs().first()->state(), ToolJob::State::Succeeded);
        // The status line says why the question went.
        const QString shown =
            window.findChild<QLabel*>(u"status"_qs)->text().remove(QChar(0x200B)); // wrap points
        QVERIFY2(shown.endsWith(texts::kEndedBeforeAnswer), qPrintable(shown));
    }
    {
        ConsoleWindow window(shortTool);
        window.show();
        window.start();
        QuestionWatch watch;
        QTimer::singleShot(0, &window, [&] { window.close(); });
        QTRY_VERIFY_WITH_TIMEOUT(watch.shown, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 15000);
        QVERIFY(!watch.answeredByTest);
        QCOMPARE(window.jobs().first()->state(), ToolJob::State::Succeeded);
    }
}

// "Yes" given after the tools have ended stops nothing and closes the window.
void ConsoleTest::yesAppliesOnlyToWhatStillRuns() {
    ConsoleWindow window({u"/bin/sh"_qs, u"-c"_qs, u"sleep 0.5"_qs});
    window.setConfirmation([&](const QString&) {
        QElapsedTimer waited;
        waited.start();
        while (window.jobs().first()->active() && waited.elapsed() < 10000)
            QTest::qWait(20);
        QTest::qWait(100);
        return true;
    });
    window.show();
    window.start();
    window.close();
    QTRY_VERIFY(!window.isVisible());
    QCOMPARE(window.jobs().first()->state(), ToolJob::State::Succeeded);
}

void ConsoleTest::newToolsLeaveTheKeyboardWhereItIs() {
    ConsoleWindow window;
    // Shown without being activated (the offscreen platform activates every window it shows;
    // a desktop's window manager is told not to).
    QVERIFY(window.testAttribute(Qt::WA_ShowWithoutActivating));
    window.addTool({kScriptedTool, u"lines"_qs, u"1"_qs}, QDir::currentPath(),
                   QProcessEnvironment::systemEnvironment());
    window.show();
    window.start();
    QWidget main;
    main.show();
    main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&main));
    for (int i = 0; i < 4; ++i) { // as the console takes each tool handed over
        window.addTool({kScriptedTool, u"lines"_qs, u"1"_qs}, QDir::currentPath(),
                       QProcessEnvironment::systemEnvironment());
        window.start();
        window.raise();
        QTest::qWait(20);
        QCOMPARE(QApplication::activeWindow(), &main);
    }
    QTRY_VERIFY(!window.running());
    QCOMPARE(QApplication::activeWindow(), &main);
}

void ConsoleTest::launcherStartsTheToolInTheConsoleInTheCurrentFolder() {
    QTemporaryDir folder;
    const QString report = folder.filePath(u"report.txt"_qs);
    qputenv("VELMORA_CONSOLE_REPORT", QFile::encodeName(report));
    qputenv("VELMORA_ARGV_RECORD_DIR", QFile::encodeName(folder.path()));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder.path());
    QtServices services(u"tst_console"_qs, QStringLiteral(VELMORA_CONSOLE));
    QElapsedTimer clock;
    clock.start();
    const Outcome started = services.launch(
        ToolCommand::fromLine(u'"' + QStringLiteral(ARGV_RECORDER) + u"\" \"a b\" -c"_qs));
    QDir::setCurrent(previous);
    QVERIFY(started);
    const QString shown = waitForFile(report);
    qInfo("the console had run its tool and shown the result %lld ms after the launch",
          clock.elapsed());
    QVERIFY2(shown.contains(u"\nstatus: "_qs + texts::kSucceeded.arg(u"argv_recorder"_qs)),
             qPrintable(shown));
    QVERIFY(shown.startsWith(u"title: argv_recorder — -c\n"_qs));
    const QStringList records = QDir(folder.path()).entryList({u"record-*.txt"_qs});
    QCOMPARE(records.size(), 1);
    QCOMPARE(readAll(folder.filePath(records.first())), folder.path() + u"\na b\n-c\n"_qs);

    QFile::remove(report);
    QVERIFY(services.launch(ToolCommand::fromLine(u'"' + kScriptedTool + u"\" fail 3"_qs)));
    const QString failed = waitForFile(report);
    QVERIFY2(failed.contains(texts::kFailed.arg(u"scripted_tool"_qs).arg(3)), qPrintable(failed));
    QVERIFY(failed.contains(u"\nlast error: scripted_tool: wrote 2 files, 1 damaged\n"_qs));
    qunsetenv("VELMORA_CONSOLE_REPORT");
}

void ConsoleTest::questionsAreInTheUsersLanguage() {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    const std::unique_ptr<QTranslator> french(loadQtTranslations(*QCoreApplication::instance()));
    QLocale::setDefault(before);
    QVERIFY2(french, "Qt's French texts (qt6-translations-l10n) are not installed");
    QMessageBox box(QMessageBox::Question, texts::kConfirmTitle, u"?"_qs,
                    QMessageBox::Yes | QMessageBox::No);
    const QString yes = box.button(QMessageBox::Yes)->text();
    const QString no = box.button(QMessageBox::No)->text();
    QCoreApplication::removeTranslator(french.get());
    QCOMPARE(yes, u"&Oui"_qs);
    QCOMPARE(no, u"&Non"_qs);
}

void ConsoleTest::launchesShareOneConsoleWindow() {
    QTemporaryDir folder;
    const QString report = folder.filePath(u"report.txt"_qs);
    qputenv("VELMORA_CONSOLE_NAME", QFile::encodeName(folder.filePath(u"console"_qs)));
    qputenv("VELMORA_CONSOLE_REPORT", QFile::encodeName(report));
    qputenv("VELMORA_CONSOLE_REPORT_ROWS", "5");
    qputenv("VELMORA_ARGV_RECORD_DIR", QFile::encodeName(folder.path()));
    QtServices services(u"tst_console"_qs, QStringLiteral(VELMORA_CONSOLE));
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= 5; ++i)
        QVERIFY(services.launch(ToolCommand::fromLine(u'"' + QStringLiteral(ARGV_RECORDER) +
                                                      u"\" entry"_qs + QString::number(i))));
    qInfo("five launches took %lld ms", clock.elapsed());
    const QString shown = waitForFile(report);
    qunsetenv("VELMORA_CONSOLE_REPORT");
    qunsetenv("VELMORA_CONSOLE_REPORT_ROWS");
    qunsetenv("VELMORA_CONSOLE_NAME");
    QVERIFY2(shown.contains(u"\nrows: 5\n"_qs), qPrintable(shown));
    QCOMPARE(shown.count(u"\nstatus: "_qs + texts::kSucceeded.arg(u"argv_recorder"_qs)), 5);
    for (int i = 1; i <= 5; ++i)
        QVERIFY(shown.contains(u"title: argv_recorder — entry"_qs + QString::number(i)));
    QCOMPARE(QDir(folder.path()).entryList({u"record-*.txt"_qs}).size(), 5);
}

void ConsoleTest::usageNeedsNoDisplay() {
    QProcess console;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& variable : {u"QT_QPA_PLATFORM"_qs, u"DISPLAY"_qs, u"WAYLAND_DISPLAY"_qs})
        environment.remove(variable);
    console.setProcessEnvironment(environment);
    console.start(QStringLiteral(VELMORA_CONSOLE), {u"--help"_qs});
    QVERIFY(console.waitForFinished(10000));
    QCOMPARE(console.exitStatus(), QProcess::NormalExit);
    QCOMPARE(console.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(console.readAllStandardOutput()), texts::kUsage);
}

void ConsoleTest::launcherWithoutConsoleStartsTheToolDirectly() {
    QTemporaryDir folder;
    qputenv("VELMORA_ARGV_RECORD_DIR", QFile::encodeName(folder.path()));
    QtServices services(u"tst_console"_qs,
                        folder.filePath(u"velmora_console"_qs)); // not there
    QVERIFY(
        services.launch(ToolCommand::fromLine(u'"' + QStringLiteral(ARGV_RECORDER) + u"\" x"_qs)));
    QTRY_COMPARE(QDir(folder.path()).entryList({u"record-*.txt"_qs}).size(), 1);
}

void ConsoleTest::launcherReportsAToolThatCannotStart() {
    QTemporaryDir folder;
    QFile data(folder.filePath(u"data.bin"_qs));
    QVERIFY(data.open(QIODevice::WriteOnly));
    data.close();
    QtServices services(u"tst_console"_qs, QStringLiteral(VELMORA_CONSOLE));
    const Outcome notExecutable =
        services.launch(ToolCommand::fromLine(u'"' + data.fileName() + u'"'));
    QVERIFY(!notExecutable);
    QVERIFY(notExecutable.reason.contains(u"ermission"_qs));
    const Outcome missing =
        services.launch(ToolCommand::fromLine(u'"' + folder.filePath(u"none"_qs) + u'"'));
    QVERIFY(!missing);
    QVERIFY(missing.reason.contains(u"No such file"_qs));
}

QTEST_MAIN(ConsoleTest)
#include "tst_console.moc"
