#include "console/tooljob.h"

#include "console/texts.h"

#include <QFileInfo>
#include <QPlainTextDocumentLayout>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <utility>

namespace velmora::console {

namespace {

constexpr int kFlushMilliseconds = 50;
constexpr qsizetype kLargestPiece = 256 * 1024; // characters put into the document at once

} // namespace

ToolJob::ToolJob(QStringList command, QString folder, QProcessEnvironment environment,
                 QString drive, QObject* parent)
    : QObject(parent)
    , m_command(std::move(command))
    , m_toolName(m_command.isEmpty() ? QString() : QFileInfo(m_command.first()).fileName())
    , m_folder(std::move(folder))
    , m_environment(std::move(environment))
    , m_drive(std::move(drive))
    , m_output(new QTextDocument(this))
    , m_status(texts::kQueued.arg(m_toolName)) {
    m_output->setDocumentLayout(new QPlainTextDocumentLayout(m_output));
    m_output->setUndoRedoEnabled(false);
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kFlushMilliseconds);
    connect(&m_flushTimer, &QTimer::timeout, this, &ToolJob::flush);
    connect(&m_process, &QProcess::readyReadStandardOutput, this,
            [this] { read(QProcess::StandardOutput); });
    connect(&m_process, &QProcess::readyReadStandardError, this,
            [this] { read(QProcess::StandardError); });
    connect(&m_process, &QProcess::finished, this, &ToolJob::finished);
    connect(&m_process, &QProcess::errorOccurred, this, &ToolJob::failedToStart);
}

ToolJob::~ToolJob() {
    // A console that quits with its tool still running leaves no orphan writing on.
    if (m_process.state() != QProcess::NotRunning) {
        m_process.disconnect(this);
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }
}

bool ToolJob::ended() const {
    return m_state == State::Succeeded || m_state == State::Failed || m_state == State::Stopped;
}

void ToolJob::setState(State state, const QString& text) {
    m_state = state;
    m_status = text;
    Q_EMIT stateChanged();
}

void ToolJob::waitFor(const QString& drive) {
    if (m_state == State::Queued)
        setState(State::Waiting, texts::kWaitingForDrive.arg(drive));
}

void ToolJob::start() {
    if (m_state != State::Queued && m_state != State::Waiting)
        return;
    if (m_command.isEmpty()) {
        end(State::Failed, texts::kNotStarted.arg(QString(), texts::kUsage));
        return;
    }
    setState(State::Running, texts::kRunning.arg(m_toolName));
    m_process.setProgram(m_command.first());
    m_process.setArguments(m_command.mid(1));
    m_process.setWorkingDirectory(m_folder);
    m_process.setProcessEnvironment(m_environment);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setInputChannelMode(QProcess::ForwardedInputChannel);
    m_process.start(QIODevice::ReadOnly);
}

void ToolJob::stop() {
    if (m_state == State::Queued || m_state == State::Waiting) {
        end(State::Stopped, texts::kStoppedBeforeStart.arg(m_toolName));
        return;
    }
    if (m_state != State::Running)
        return;
    setState(State::Stopping, texts::kStopping.arg(m_toolName));
    m_process.terminate();
}

void ToolJob::read(QProcess::ProcessChannel channel) {
    m_process.setReadChannel(channel);
    LineSplitter& splitter = channel == QProcess::StandardError ? m_stderr : m_stdout;
    for (const QString& line : splitter.add(m_process.readAll()))
        take(line, channel);
}

void ToolJob::take(const QString& line, QProcess::ProcessChannel channel) {
    if (const std::optional<Progress> progress = progressOf(line)) {
        m_percent = progress->percent;
        m_detail = progress->detail;
        m_highestPercent = std::max(m_highestPercent, progress->percent);
        Q_EMIT progressed();
        return;
    }
    if (channel == QProcess::StandardError && !line.trimmed().isEmpty())
        m_lastError = line;
    m_batch += line;
    m_batch += u'\n';
    if (!m_flushTimer.isActive())
        m_flushTimer.start(kFlushMilliseconds);
}

// Appends the lines gathered since the last time; a large batch goes in pieces, the window
// answering the user between them.
void ToolJob::flush() {
    if (!m_batch.isEmpty()) {
        qsizetype length = m_batch.size();
        if (length > kLargestPiece)
            length = m_batch.lastIndexOf(u'\n', kLargestPiece) + 1;
        if (length <= 0)
            length = std::min(m_batch.size(), kLargestPiece);
        QStringView piece = QStringView(m_batch).left(length);
        if (piece.endsWith(u'\n'))
            piece.chop(1);
        QTextCursor end(m_output);
        end.movePosition(QTextCursor::End);
        if (!m_output->isEmpty())
            end.insertBlock();
        end.insertText(piece.toString());
        m_batch.remove(0, length);
        Q_EMIT outputAdded();
    }
    if (!m_batch.isEmpty())
        m_flushTimer.start(0);
    else if (m_ending)
        std::exchange(m_ending, {})();
}

void ToolJob::finished(int code, QProcess::ExitStatus how) {
    for (const auto channel : {QProcess::StandardOutput, QProcess::StandardError})
        read(channel);
    for (const auto channel : {QProcess::StandardOutput, QProcess::StandardError}) {
        LineSplitter& splitter = channel == QProcess::StandardError ? m_stderr : m_stdout;
        if (const std::optional<QString> line = splitter.rest())
            take(*line, channel);
    }
    const bool askedToStop = m_state == State::Stopping;
    m_ending = [this, code, how, askedToStop] {
        if (how == QProcess::NormalExit)
            m_exitStatus = code;
        else
            m_signal = code;
        if (how == QProcess::NormalExit && code == 0) {
            m_percent = 100;
            Q_EMIT progressed();
            end(State::Succeeded, texts::kSucceeded.arg(m_toolName));
        } else if (askedToStop) {
            end(State::Stopped, texts::kStoppedByYou.arg(m_toolName));
        } else if (how == QProcess::NormalExit) {
            end(State::Failed, texts::kFailed.arg(m_toolName).arg(code));
        } else {
            end(State::Failed, texts::kKilled.arg(m_toolName).arg(code).arg(signalName(code)));
        }
    };
    // The result shows once the output before it is all in the document.
    if (m_batch.isEmpty())
        std::exchange(m_ending, {})();
    else
        m_flushTimer.start(0);
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
