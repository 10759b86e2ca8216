// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/tooljob.h"

#include "console/processkeeper.h"
#include "console/texts.h"
#include "console/toolgroup.h"
#include "platform/filenamecodec.h"
#include "terminal/progress.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextDocumentLayout>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <utility>

#ifndef Q_OS_WIN
#include <sys/types.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

using namespace Qt::StringLiterals;

namespace velmora::console {

namespace {

constexpr int kFlushMilliseconds = 50;
// How long a tool asked to stop (SIGTERM) has before it may be ended outright (SIGKILL).
constexpr int kStopGraceMilliseconds = 3000;
constexpr qsizetype kLargestPiece = 16 * 1024; // characters put into the document at once
// A line longer than this is shown as it comes rather than when it ends: no progress line is
// that long.
constexpr qsizetype kLongestHeldLine = 64 * 1024;

// The job's document as the output log's sink: a block a line, the last one being written.
class DocumentSink final : public OutputSink {
public:
    explicit DocumentSink(QTextDocument* document)
        : m_document(document) {}

    void removeFirstLines(qsizetype count) override {
        if (count >= m_document->blockCount()) {
            m_document->clear();
            return;
        }
        QTextCursor front(m_document);
        front.setPosition(m_document->findBlockByNumber(int(count)).position(),
                          QTextCursor::KeepAnchor);
        front.removeSelectedText();
    }
    void append(QStringView text) override {
        QTextCursor end(m_document);
        end.movePosition(QTextCursor::End);
        end.insertText(text.toString()); // a '\n' begins a new block
    }

private:
    QTextDocument* m_document;
};

} // namespace

ToolJob::ToolJob(QStringList command, QString folder, QProcessEnvironment environment,
                 QObject* parent)
    : QObject(parent)
    , m_command(std::move(command))
    , m_toolName(m_command.isEmpty() ? QString() : QFileInfo(m_command.first()).fileName())
    , m_folder(std::move(folder))
    , m_environment(std::move(environment))
    , m_output(new QTextDocument(this))
    , m_status(texts::kQueued.arg(m_toolName)) {
    static int tools = 0;
    m_mark = consoleToken() + '.' + QByteArray::number(++tools);
    m_environment.insert(QString::fromLatin1(kToolMarkName), QString::fromLatin1(m_mark));
    m_output->setDocumentLayout(new QPlainTextDocumentLayout(m_output));
    m_output->setUndoRedoEnabled(false);
    // Every byte the tool writes, for "Save output"; the window keeps only the last lines.
    m_spool = std::make_unique<QTemporaryFile>(
        QDir::temp().filePath(QStringLiteral("velmora_console-output-XXXXXX.txt")));
    if (!m_spool->open())
        m_spool.reset();
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kFlushMilliseconds);
    connect(&m_flushTimer, &QTimer::timeout, this, &ToolJob::flush);
    connect(&m_process, &QProcess::readyReadStandardOutput, this,
            [this] { read(QProcess::StandardOutput); });
    connect(&m_process, &QProcess::readyReadStandardError, this,
            [this] { read(QProcess::StandardError); });
    connect(&m_process, &QProcess::finished, this, &ToolJob::finished);
    connect(&m_process, &QProcess::errorOccurred, this, &ToolJob::failedToStart);
    m_leftovers.setSingleShot(true);
    m_leftovers.setInterval(100);
    connect(&m_leftovers, &QTimer::timeout, this, &ToolJob::endWhenAllGone);
    m_stopGrace.setSingleShot(true);
    m_stopGrace.setInterval(kStopGraceMilliseconds);
    connect(&m_stopGrace, &QTimer::timeout, this, [this] {
        if (m_state == State::Stopping)
            setState(State::Stopping, texts::kDoesNotStop.arg(m_toolName));
    });
#ifndef Q_OS_WIN
    // The tool leads a process group of its own, so that Stop reaches whatever it starts; and
    // on Linux it ends with the console, should the console be killed outright.
    const pid_t console = ::getpid();
    m_process.setChildProcessModifier([this, console] {
        ::setpgid(0, 0);
#ifdef Q_OS_LINUX
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != console)
            ::_exit(127); // the console is gone already
#else
        (void)console;
#endif
        if (m_rawArgv.empty())
            return;
        if (!m_rawFolder.isEmpty() && ::chdir(m_rawFolder.constData()) != 0)
            ::_exit(127);
        ::execv(m_rawArgv.front(), m_rawArgv.data());
        const char message[] = "velmora_console: the tool could not be started\n";
        (void)!::write(2, message, sizeof message - 1);
        ::_exit(127);
    });
#endif
}

ToolJob::~ToolJob() {
    // A console that quits with its tool still running leaves no orphan writing on: neither the
    // tool nor anything it started.
    const bool running = m_process.state() != QProcess::NotRunning;
    if (!running && (ended() || !leftRunning()))
        return;
    m_process.disconnect(this);
    if (m_state != State::Stopping) // asked already (the window asks all its tools at once)
        signalTool(SIGTERM);
    if (running)
        m_process.waitForFinished(kStopGraceMilliseconds);
    QDeadlineTimer grace(running ? 500 : kStopGraceMilliseconds);
    while (leftRunning() && !grace.hasExpired())
        QThread::msleep(50);
    signalTool(SIGKILL);
    if (m_process.state() != QProcess::NotRunning)
        m_process.waitForFinished(1000);
}

// Sends `signal` to the tool's process group, and to every process that carries the tool's
// mark: what it started in the background, in a session of its own too.
void ToolJob::signalTool(int signal) {
    const qint64 pid = m_process.processId();
#ifdef Q_OS_WIN
    if (pid <= 0 || m_process.state() == QProcess::NotRunning)
        return;
    if (signal == SIGKILL)
        m_process.kill();
    else
        m_process.terminate();
#else
    if (pid > 0 && m_process.state() != QProcess::NotRunning && ::kill(-pid_t(pid), signal) != 0)
        ::kill(pid_t(pid), signal); // not the leader of a group of its own
    signalEach(markedNow(), signal);
#endif
}

void ToolJob::setStopGrace(int milliseconds) {
    m_stopGrace.setInterval(milliseconds);
}

bool ToolJob::ended() const {
    return succeeded() || m_state == State::Failed || m_state == State::Stopped;
}

void ToolJob::setState(State state, const QString& text) {
    m_state = state;
    m_status = text;
    Q_EMIT stateChanged();
}

void ToolJob::start() {
    if (m_state != State::Queued)
        return;
    if (m_command.isEmpty()) {
        end(State::Failed, texts::kNotStarted.arg(QString(), texts::kUsage));
        return;
    }
    m_startedAt = QDateTime::currentDateTime();
    setState(State::Running, texts::kRunning.arg(m_toolName));
    // Through the keeper of its group of processes, where the system keeps one.
    const QStringList run = commandInGroup(m_command, m_folder);
    m_process.setProgram(run.first());
    m_process.setArguments(run.mid(1));
    m_process.setWorkingDirectory(m_folder);
#ifndef Q_OS_WIN
    // A name that is not UTF-8 reaches the tool as its own bytes (Qt would replace them).
    if (holdsForeignBytes(m_folder) || std::any_of(run.begin(), run.end(), [](const QString& part) {
            return holdsForeignBytes(part);
        })) {
        for (const QString& part : run)
            m_rawCommand.push_back(encodeFileName(part));
        for (QByteArray& part : m_rawCommand)
            m_rawArgv.push_back(part.data());
        m_rawArgv.push_back(nullptr);
        m_rawFolder = encodeFileName(m_folder);
        m_process.setWorkingDirectory(QString()); // entered by the child itself
    }
#endif
    // Our tools write both streams into one pipe, each error line marked: the output shows in
    // the order it was written. Any other program keeps its two pipes.
    m_oneChannel = m_toolName == u"dat2file" || m_toolName == u"velmora_tolk";
    if (m_oneChannel)
        m_environment.insert(QString::fromLatin1(cdimage::kOneChannelVariable),
                             QStringLiteral("one"));
    m_process.setProcessEnvironment(m_environment);
    m_process.setProcessChannelMode(m_oneChannel ? QProcess::MergedChannels
                                                 : QProcess::SeparateChannels);
    m_process.setInputChannelMode(QProcess::ForwardedInputChannel);
    m_process.start(QIODevice::ReadOnly);
}

void ToolJob::stop() {
    if (m_state == State::Queued) {
        end(State::Stopped, texts::kStoppedBeforeStart.arg(m_toolName));
        return;
    }
    if (m_state == State::Stopping) {
        // Asked again: no more waiting for it.
        signalTool(SIGKILL);
        return;
    }
    if (m_state != State::Running)
        return;
    setState(State::Stopping, texts::kStopping.arg(m_toolName));
    signalTool(SIGTERM);
    m_stopGrace.start();
}

void ToolJob::read(QProcess::ProcessChannel channel) {
    if (m_oneChannel && channel == QProcess::StandardError)
        return; // in the one pipe, read with the output
    m_process.setReadChannel(channel);
    const QByteArray bytes = m_process.readAll();
    if (bytes.isEmpty())
        return;
    // What is saved is what the tool wrote, the marks of its error lines left out.
    QByteArray written = bytes;
    if (m_oneChannel)
        written.removeIf([](char c) { return c == cdimage::kErrorLineMark; });
    if (m_spool && !spool(written))
        m_spool.reset(); // a full disk: the window still shows the last lines
    Channel& from = channel == QProcess::StandardError ? m_stderr : m_stdout;
    take(from.text.add(bytes), channel);
}

// Cuts text into lines, the last one possibly begun; a line too long to wait for its end goes
// into the log as it comes.
void ToolJob::take(QStringView text, QProcess::ProcessChannel channel) {
    Channel& from = channel == QProcess::StandardError ? m_stderr : m_stdout;
    Channel& other = channel == QProcess::StandardError ? m_stdout : m_stderr;
    for (qsizetype start = 0;;) {
        const qsizetype end = text.indexOf(u'\n', start);
        const QStringView piece = text.mid(start, (end < 0 ? text.size() : end) - start);
        if (end < 0) {
            if (from.openInLog) {
                m_log.add(piece);
            } else {
                from.open += piece;
                if (from.open.size() > kLongestHeldLine) {
                    endOpenLine(other); // lines of the two channels never mix
                    m_log.add(QStringView(from.open).mid(
                        m_oneChannel &&
                                from.open.startsWith(QChar(char16_t(cdimage::kErrorLineMark)))
                            ? 1
                            : 0));
                    from.open.clear();
                    from.openInLog = true;
                }
            }
            break;
        }
        if (from.openInLog) {
            m_log.add(piece);
            m_log.add(u"\n");
            from.openInLog = false;
            if (channel == QProcess::StandardError)
                m_lastError = piece.toString();
        } else {
            from.open += piece;
            endOpenLine(other);
            if (takeLine(std::exchange(from.open, {}), channel))
                m_log.add(u"\n");
        }
        start = end + 1;
    }
    if (m_log.waiting() && !m_flushTimer.isActive())
        m_flushTimer.start(kFlushMilliseconds);
}

// Ends the other channel's line where its start is in the log already.
void ToolJob::endOpenLine(Channel& channel) {
    if (!channel.openInLog)
        return;
    m_log.add(u"\n");
    channel.openInLog = false;
}

// A line a tool writes after its closing line, about the repair data ("dat2file: repair data:
// ...", "dat2file: warning: the repair data is degraded: ..."), or a listed range of a damaged
// copy ("  bytes 0 to 2323: ...").
bool ToolJob::isFootnote(QStringView line) {
    const qsizetype colon = line.indexOf(u": ");
    QStringView rest = colon < 0 ? line : line.mid(colon + 2);
    if (rest.startsWith(u"warning: "))
        rest = rest.mid(9);
    return rest.startsWith(u"repair data: ") || rest.startsWith(u"the repair data ") ||
           rest.startsWith(u' ');
}

// What the repair data did, as dat2file says it once it has read: "dat2file: repair data: 30
// sectors unreadable, 30 rebuilt, 0 not rebuildable; the worst code word lost 3 of the 32 it
// can lose"; and how close the disc came to losing data, in whatever line says it (a read's
// note, a check's closing line).
void ToolJob::takeRepairNote(const QString& line) {
    static const QRegularExpression note(
        uR"(: repair data: \d+ sectors unreadable, (\d+) rebuilt, \d+ not rebuildable)"_s);
    const std::optional<Margin> margin = marginOf(line);
    if (margin)
        m_marginFigures = margin;
    if (const QRegularExpressionMatch found = note.match(line); found.hasMatch()) {
        m_rebuilt += found.captured(1).toLongLong();
        if (margin)
            m_margin = margin->said;
    }
}

// A progress line moves the progress; any other goes into the log (its break is the caller's).
// From one pipe, a line whose start is marked is an error line, taken without its mark.
bool ToolJob::takeLine(const QString& written, QProcess::ProcessChannel channel) {
    const bool marked =
        m_oneChannel && written.startsWith(QChar(char16_t(cdimage::kErrorLineMark)));
    const QString line = marked ? written.mid(1) : written;
    if (marked)
        channel = QProcess::StandardError;
    if (const std::optional<Progress> progress = progressOf(line)) {
        m_percent = progress->percent;
        m_detail = progress->detail;
        m_highestPercent = std::max(m_highestPercent, progress->percent);
        Q_EMIT progressed();
        return false;
    }
    if (!line.trimmed().isEmpty()) {
        m_lastLine = line;
        if (channel == QProcess::StandardError)
            m_lastError = line;
        // "velmora_tolk: warning: only 19 of the 32 repair bands asked fit …": said first when
        // the tool ends well; the repair data's footnotes have their own place.
        if (const qsizetype at = line.indexOf(u": warning: "); m_firstWarning.isEmpty() &&
                                                               channel == QProcess::StandardError &&
                                                               at > 0 && !isFootnote(line))
            m_firstWarning = line.mid(at + 11);
        if (channel == QProcess::StandardOutput && !isFootnote(line))
            m_summary = line;
        if (channel == QProcess::StandardOutput)
            takeRepairNote(line);
    }
    m_log.add(line);
    return true;
}

// Hands the document what the log has for it, a piece at a time, the window answering the
// user between pieces.
void ToolJob::flush() {
    DocumentSink sink(m_output);
    const bool more = m_log.flushTo(sink, kLargestPiece);
    Q_EMIT outputAdded();
    // While the tool writes on, the next piece waits its turn: what the log drops meanwhile
    // never costs the view anything. At the end the rest goes at once.
    if (more)
        m_flushTimer.start(m_process.state() == QProcess::NotRunning ? 0 : kFlushMilliseconds);
    else
        endWhenAllGone();
}

// Ends the job once the tool's output is all in the document and no process the tool started
// runs any more; looks again a little later while one does.
void ToolJob::endWhenAllGone() {
    if (!m_ending || m_log.waiting() || m_flushTimer.isActive())
        return;
    if (leftRunning()) {
        // Looked at again soon, then less and less often while it stays.
        if (!m_leftovers.isActive() && m_leftoversLooked++ > 0)
            m_leftovers.setInterval(std::min(1000, m_leftovers.interval() * 3 / 2));
        m_leftovers.start();
        return;
    }
    std::exchange(m_ending, {})();
}

// Whether a process the tool started still runs: one that carries its mark now, or one seen with
// it before that has not ended yet (a process on its way out no longer shows its environment).
bool ToolJob::leftRunning() {
    markedNow();
    for (auto it = m_started.begin(); it != m_started.end();)
        it = processEnded(*it) ? m_started.erase(it) : std::next(it);
    return !m_started.isEmpty();
}

// The processes that carry the tool's mark now, each kept in mind until it has ended.
QList<pid_t> ToolJob::markedNow() {
    const QList<pid_t> marked = processesMarked(m_mark);
    for (const pid_t process : marked)
        m_started.insert(process);
    return marked;
}

// Keeps `bytes` in the spool, over its oldest bytes once it is full.
bool ToolJob::spool(QByteArrayView bytes) {
    if (bytes.size() > m_spoolLimit) {
        m_spooled += bytes.size() - m_spoolLimit;
        bytes = bytes.last(m_spoolLimit);
    }
    while (!bytes.isEmpty()) {
        const qint64 at = m_spooled % m_spoolLimit;
        const qint64 piece = std::min<qint64>(bytes.size(), m_spoolLimit - at);
        if (!m_spool->seek(at) || m_spool->write(bytes.data(), piece) != piece)
            return false;
        m_spooled += piece;
        bytes = bytes.sliced(piece);
    }
    return true;
}

void ToolJob::letSpoolGo(qint64 mebibytes) {
    m_spool.reset();
    m_spoolLetGoFor = mebibytes;
}

std::optional<QString> ToolJob::saveOutput(const QString& path) const {
    if (!m_spool)
        return m_spoolLetGoFor > 0 ? texts::kSpoolLetGo.arg(m_spoolLetGoFor)
                                   : texts::kNoSavedOutput;
    m_spool->flush();
    // Written beside the path and renamed onto it once whole: a full disk or a failed read
    // leaves whatever was there as it was, and no partial file (mode 0666 less the umask, or
    // the replaced file's).
    QSaveFile saved(path);
    if (!saved.open(QIODevice::WriteOnly))
        return saved.errorString();
    const qint64 kept = std::min(m_spooled, m_spoolLimit);
    if (m_spooled > kept)
        saved.write(texts::kSavedLeftOut.arg(m_spooled - kept).arg(kept).toUtf8());
    QFile from(m_spool->fileName());
    if (!from.open(QIODevice::ReadOnly))
        return from.errorString();
    // Oldest first: from the place the next byte would go, round to it.
    const qint64 oldest = m_spooled > kept ? m_spooled % m_spoolLimit : 0;
    for (const auto& [start, length] :
         {std::pair{oldest, kept - oldest}, std::pair{qint64(0), oldest}}) {
        if (!from.seek(start))
            return from.errorString();
        for (qint64 left = length; left > 0;) {
            const QByteArray piece = from.read(std::min<qint64>(left, 1 << 20));
            if (piece.isEmpty())
                return from.errorString();
            if (saved.write(piece) != piece.size())
                return saved.errorString();
            left -= piece.size();
        }
    }
    if (!saved.commit())
        return saved.errorString();
    return std::nullopt;
}

void ToolJob::finished(int code, QProcess::ExitStatus how) {
    for (const auto channel : {QProcess::StandardOutput, QProcess::StandardError})
        read(channel);
    // What follows the last line break of each channel is a line too.
    for (const auto channel : {QProcess::StandardOutput, QProcess::StandardError}) {
        Channel& from = channel == QProcess::StandardError ? m_stderr : m_stdout;
        take(from.text.finish(), channel);
        if (from.openInLog) {
            from.openInLog = false;
        } else if (!from.open.isEmpty()) {
            takeLine(std::exchange(from.open, {}), channel);
        }
    }
    if (m_log.waiting() && !m_flushTimer.isActive())
        m_flushTimer.start(0);
    m_ending = [this, code, how] {
        const bool askedToStop = m_state == State::Stopping;
        if (how == QProcess::NormalExit)
            m_exitStatus = code;
        else
            m_signal = code;
        if (how == QProcess::NormalExit && code == 0) {
            m_percent = 100;
            Q_EMIT progressed();
            if (m_rebuilt > 0)
                end(State::Repaired, texts::kRepaired.arg(m_toolName)
                                         .arg(m_rebuilt)
                                         .arg(m_margin.isEmpty() ? QString() : m_margin + u"; "_s));
            else if (!m_firstWarning.isEmpty())
                endWarned(texts::kRowWarned, texts::kWarned.arg(m_firstWarning, m_toolName));
            else
                end(State::Succeeded, texts::kSucceeded.arg(m_toolName));
        } else if (askedToStop) {
            end(State::Stopped, texts::kStoppedByYou.arg(m_toolName));
        } else if (how == QProcess::NormalExit) {
            if (!endAsCheck(code))
                end(State::Failed, texts::kFailed.arg(m_toolName).arg(code));
        } else {
            end(State::Failed, texts::kKilled.arg(m_toolName).arg(code).arg(signalName(code)));
        }
    };
    // The result shows once the output before it is all in the document.
    endWhenAllGone();
}

bool ToolJob::endAsCheck(int code) {
    if (m_toolName != u"dat2file" || !m_command.contains(QStringLiteral("--check")) ||
        (code != 4 && code != 5))
        return false;
    m_percent = 100;
    Q_EMIT progressed();
    endWarned(code == 4 ? texts::kRowRepairable : texts::kRowDegraded,
              (code == 4 ? texts::kCheckedRepairable : texts::kCheckedDegraded).arg(m_toolName));
    return true;
}

void ToolJob::endWarned(const QString& row, const QString& text) {
    m_warnedRow = row;
    end(State::Warned, text);
}

void ToolJob::failedToStart(QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart)
        end(State::Failed, texts::kNotStarted.arg(m_toolName, m_process.errorString()));
}

void ToolJob::end(State state, const QString& text) {
    if (ended())
        return;
    setState(state, text);
    Q_EMIT done();
}

} // namespace velmora::console
