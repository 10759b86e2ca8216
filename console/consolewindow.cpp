#include "console/consolewindow.h"

#include "console/texts.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace velmora::console {

namespace {

constexpr int kFlushMilliseconds = 50;
constexpr qsizetype kLargestPiece = 256 * 1024; // characters put into the view at once

bool askUser(QWidget* parent, const QString& question) {
    return QMessageBox::question(parent, texts::kConfirmTitle, question,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

} // namespace

ConsoleWindow::ConsoleWindow(QStringList command, QWidget* parent)
    : QWidget(parent)
    , m_command(std::move(command))
    , m_toolName(m_command.isEmpty() ? QString() : QFileInfo(m_command.first()).fileName())
    , m_confirm([this](const QString& question) { return askUser(this, question); }) {
    setObjectName(QStringLiteral("ConsoleWindow"));
    setWindowTitle(console::windowTitle(m_command));
    setAccessibleName(console::windowTitle(m_command));
    createControls();

    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kFlushMilliseconds);
    connect(&m_flushTimer, &QTimer::timeout, this, &ConsoleWindow::flush);
    connect(&m_tool, &QProcess::readyReadStandardOutput, this,
            [this] { read(QProcess::StandardOutput); });
    connect(&m_tool, &QProcess::readyReadStandardError, this,
            [this] { read(QProcess::StandardError); });
    connect(&m_tool, &QProcess::finished, this, &ConsoleWindow::finished);
    connect(&m_tool, &QProcess::errorOccurred, this, &ConsoleWindow::failedToStart);
    connect(m_stop, &QPushButton::clicked, this, &ConsoleWindow::askToStop);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
}

ConsoleWindow::~ConsoleWindow() {
    // A window destroyed with its tool still running (the program quitting) leaves no orphan
    // writing on.
    if (running()) {
        m_tool.terminate();
        if (!m_tool.waitForFinished(5000))
            m_tool.kill();
        m_tool.waitForFinished(1000);
    }
}

void ConsoleWindow::createControls() {
    using namespace texts;
    m_commandLine = new QLabel(commandLineOf(m_command), this);
    m_commandLine->setObjectName(QStringLiteral("commandLine"));
    m_commandLine->setAccessibleName(kCommandLineName);
    m_commandLine->setTextFormat(Qt::PlainText);
    m_commandLine->setWordWrap(true);
    m_commandLine->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                           Qt::TextSelectableByKeyboard);
    m_commandLine->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    m_output = new QPlainTextEdit(this);
    m_output->setObjectName(QStringLiteral("output"));
    m_output->setAccessibleName(kOutputName);
    m_output->setReadOnly(true);
    m_output->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_output->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_output->setUndoRedoEnabled(false);
    m_output->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setAccessibleName(kProgressName);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);

    m_progressDetail = new QLabel(this);
    m_progressDetail->setObjectName(QStringLiteral("progressDetail"));
    m_progressDetail->setAccessibleName(kProgressName);
    m_progressDetail->setTextFormat(Qt::PlainText);

    m_statusIcon = new QLabel(this);
    m_statusIcon->setObjectName(QStringLiteral("statusIcon"));
    m_statusIcon->setAccessibleName(kStatusName);
    m_status = new QLabel(kRunning.arg(m_toolName), this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setAccessibleName(kStatusName);
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    m_lastErrorLabel = new QLabel(this);
    m_lastErrorLabel->setObjectName(QStringLiteral("lastError"));
    m_lastErrorLabel->setAccessibleName(kLastErrorName);
    m_lastErrorLabel->setWordWrap(true);
    m_lastErrorLabel->setTextFormat(Qt::PlainText);
    m_lastErrorLabel->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                              Qt::TextSelectableByKeyboard);
    QFont bold = m_lastErrorLabel->font();
    bold.setBold(true);
    m_lastErrorLabel->setFont(bold);
    m_lastErrorLabel->hide();

    m_stop = new QPushButton(kStop, this);
    m_stop->setObjectName(QStringLiteral("stop"));
    m_stop->setAccessibleName(kStop);
    m_close = new QPushButton(kClose, this);
    m_close->setObjectName(QStringLiteral("close"));
    m_close->setAccessibleName(kClose);

    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(m_statusIcon, 0, Qt::AlignTop);
    statusRow->addWidget(m_status, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_stop);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_commandLine);
    layout->addWidget(m_output, 1);
    layout->addWidget(m_progress);
    layout->addWidget(m_progressDetail);
    layout->addLayout(statusRow);
    layout->addWidget(m_lastErrorLabel);
    layout->addLayout(buttons);
    resize(760, 480);
}

void ConsoleWindow::setConfirmation(std::function<bool(const QString&)> confirm) {
    m_confirm = std::move(confirm);
}

QString ConsoleWindow::report() const {
    return QStringLiteral("title: %1\ncommand: %2\nprogress: %3 highest %4\nstatus: %5\n"
                          "last error: %6\noutput:\n%7\n")
        .arg(windowTitle(), m_commandLine->text())
        .arg(m_progress->value())
        .arg(m_highestProgress)
        .arg(m_status->text(), m_lastErrorLabel->isVisible() ? m_lastErrorLabel->text() : QString(),
             m_output->toPlainText());
}

QString ConsoleWindow::status() const {
    return m_status->text();
}

void ConsoleWindow::start() {
    if (m_command.isEmpty()) {
        showResult(false, texts::kNotStarted.arg(QString(), texts::kUsage));
        return;
    }
    m_tool.setProgram(m_command.first());
    m_tool.setArguments(m_command.mid(1));
    m_tool.setProcessChannelMode(QProcess::SeparateChannels);
    m_tool.setInputChannelMode(QProcess::ForwardedInputChannel);
    m_tool.start(QIODevice::ReadOnly);
}

void ConsoleWindow::read(QProcess::ProcessChannel channel) {
    m_tool.setReadChannel(channel);
    LineSplitter& splitter = channel == QProcess::StandardError ? m_stderr : m_stdout;
    for (const QString& line : splitter.add(m_tool.readAll()))
        take(line, channel);
}

void ConsoleWindow::take(const QString& line, QProcess::ProcessChannel channel) {
    if (const std::optional<Progress> progress = progressOf(line)) {
        m_progress->setValue(progress->percent);
        m_progressDetail->setText(progress->detail);
        m_highestProgress = std::max(m_highestProgress, progress->percent);
        return;
    }
    if (channel == QProcess::StandardError && !line.trimmed().isEmpty())
        m_lastError = line;
    m_batch += line;
    m_batch += u'\n';
    if (!m_flushTimer.isActive())
        m_flushTimer.start(kFlushMilliseconds);
}

// Appends the lines gathered since the last time, following the end when the view was there.
void ConsoleWindow::flush() {
    if (m_batch.isEmpty()) {
        if (m_ending)
            std::exchange(m_ending, {})();
        return;
    }
    QScrollBar* bar = m_output->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor end(m_output->document());
    end.movePosition(QTextCursor::End);
    // A large batch goes in pieces, the window answering the user between them.
    qsizetype length = m_batch.size();
    if (length > kLargestPiece)
        length = m_batch.lastIndexOf(u'\n', kLargestPiece) + 1;
    if (length <= 0)
        length = std::min(m_batch.size(), kLargestPiece);
    QStringView piece = QStringView(m_batch).left(length);
    if (piece.endsWith(u'\n'))
        piece.chop(1);
    if (!m_output->document()->isEmpty())
        end.insertBlock();
    end.insertText(piece.toString());
    m_batch.remove(0, length);
    if (atEnd)
        bar->setValue(bar->maximum());
    if (!m_batch.isEmpty())
        m_flushTimer.start(0);
    else if (m_ending)
        std::exchange(m_ending, {})();
}

void ConsoleWindow::askToStop() {
    if (!running() || !m_confirm(texts::kConfirmStop.arg(m_toolName)))
        return;
    if (!running())
        return;
    m_status->setText(texts::kStopping.arg(m_toolName));
    m_stop->setEnabled(false);
    m_tool.terminate();
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
    if (!running()) {
        event->accept();
        return;
    }
    event->ignore();
    if (m_closeWhenDone || !m_confirm(texts::kConfirmStop.arg(m_toolName)))
        return;
    m_closeWhenDone = true;
    if (running()) {
        m_status->setText(texts::kStopping.arg(m_toolName));
        m_stop->setEnabled(false);
        m_tool.terminate();
    } else {
        close();
    }
}

void ConsoleWindow::finished(int code, QProcess::ExitStatus how) {
    for (const auto channel : {QProcess::StandardOutput, QProcess::StandardError})
        read(channel);
    for (const auto channel : {QProcess::StandardOutput, QProcess::StandardError}) {
        LineSplitter& splitter = channel == QProcess::StandardError ? m_stderr : m_stdout;
        if (const std::optional<QString> line = splitter.rest())
            take(*line, channel);
    }
    m_ending = [this, code, how] {
        if (how == QProcess::NormalExit) {
            m_exitStatus = code;
            if (code == 0) {
                m_progress->setValue(100);
                showResult(true, texts::kSucceeded.arg(m_toolName));
            } else {
                showResult(false, texts::kFailed.arg(m_toolName).arg(code));
            }
        } else {
            showResult(false, texts::kKilled.arg(m_toolName).arg(code).arg(signalName(code)));
        }
        if (m_closeWhenDone)
            close();
    };
    // The result shows once the output before it is all in view.
    if (m_batch.isEmpty())
        std::exchange(m_ending, {})();
    else
        m_flushTimer.start(0);
}

void ConsoleWindow::failedToStart(QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart)
        return;
    showResult(false, texts::kNotStarted.arg(m_toolName, m_tool.errorString()));
}

void ConsoleWindow::showResult(bool success, const QString& text) {
    if (m_ended)
        return;
    m_ended = true;
    const QStyle::StandardPixmap icon =
        success ? QStyle::SP_DialogApplyButton : QStyle::SP_MessageBoxCritical;
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    m_statusIcon->setPixmap(style()->standardIcon(icon).pixmap(size, size));
    m_status->setText(text);
    m_status->setAccessibleName(texts::kStatusName + QStringLiteral(": ") + text);
    if (!success && !m_lastError.isEmpty()) {
        m_lastErrorLabel->setText(m_lastError);
        m_lastErrorLabel->show();
    }
    m_stop->setEnabled(false);
    m_close->setFocus();
    QAccessibleEvent changed(m_status, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
    QAccessibleEvent alert(m_status, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
    Q_EMIT toolFinished();
}

} // namespace velmora::console
