// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/consolewindow.h"

#include "console/announcement.h"
#include "console/texts.h"
#include "console/tooljob.h"
#include "console/toolmodel.h"
#include "console/toolrun.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTextDocument>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace velmora::console {

namespace {

// A line of text the window shows, read by its text (what it is comes as the description). It
// wraps at blanks, and anywhere in a long run without one, so that no text widens the window
// past the screen.
QLabel* textLabel(const QString& name, const QString& role, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setAccessibleDescription(role);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

// A button whose text is also its name for screen readers.
QPushButton* namedButton(const QString& text, const QString& objectName, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setAccessibleName(text);
    return button;
}

void setLabelText(QLabel* label, const QString& text) {
    label->setText(breakableAnywhere(text));
    label->setAccessibleName(text);
    label->setToolTip(text.size() > 80 ? text : QString());
}

// Text to select and copy exactly (a command line, an error), wrapped anywhere, a few lines
// high, scrolled when longer.
QPlainTextEdit* textView(const QString& name, const QString& accessibleName, QWidget* parent) {
    auto* view = new QPlainTextEdit(parent);
    view->setObjectName(name);
    view->setAccessibleName(accessibleName);
    view->setReadOnly(true);
    view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    view->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    view->setFrameShape(QFrame::NoFrame);
    view->viewport()->setAutoFillBackground(false);
    view->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    return view;
}

void fitLines(QPlainTextEdit* view, int lines) {
    view->setFixedHeight(view->fontMetrics().lineSpacing() * lines +
                         2 * int(view->document()->documentMargin()) + 2);
}

// Shows `text` whole: as many lines as it takes, from `fewest` up to `most`, scrolled beyond,
// and in a tooltip.
void showWhole(QPlainTextEdit* view, const QString& text, int fewest, int most) {
    if (view->toPlainText() != text)
        view->setPlainText(text);
    view->setToolTip(text);
    const int width = std::max(1, view->viewport()->width() > 50 ? view->viewport()->width()
                                                                 : view->window()->width() - 40);
    qsizetype lines = 0;
    for (const QString& line : text.split(u'\n'))
        lines += 1 + view->fontMetrics().horizontalAdvance(line) / width;
    fitLines(view, int(std::clamp<qsizetype>(lines, fewest, most)));
}

// A progress bar with its percentage beside it, never over it.
QWidget* progressWithPercent(QProgressBar* bar, QWidget* parent) {
    auto* row = new QWidget(parent);
    bar->setParent(row);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    row->setAccessibleName(bar->accessibleName());
    auto* percent = new QLabel(QStringLiteral("0%"), row);
    percent->setObjectName(QStringLiteral("percent"));
    percent->setAccessibleDescription(bar->accessibleName());
    percent->setMinimumWidth(percent->fontMetrics().horizontalAdvance(QStringLiteral("100%")));
    percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(bar, 1);
    layout->addWidget(percent);
    QObject::connect(bar, &QProgressBar::valueChanged, percent,
                     [percent](int value) { percent->setText(QStringLiteral("%1%").arg(value)); });
    return row;
}

} // namespace

ConsoleWindow::ConsoleWindow(QWidget* parent)
    : QMainWindow(parent)
    , m_confirm([this](const QString& question) { return askUser(question); })
    , m_askWhereToSave([this](const QString& suggested) {
        return QFileDialog::getSaveFileName(this, texts::kSaveTitle, suggested);
    }) {
    // A click on a notification's "Show" is the user's own asking for the console.
    auto* notifier = new DesktopNotifier(this);
    m_announce = [notifier](const Announcement& announcement) {
        notifier->notify(announcement);
    };
    connect(notifier, &DesktopNotifier::showAsked, this, [this] {
        showNormal();
        raise();
        activateWindow();
    });
    m_openFolderWith = [](const QString& folder) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
    setObjectName(QStringLiteral("ConsoleWindow"));
    // Shown and raised, never given the keyboard: the user may be answering a box elsewhere.
    setAttribute(Qt::WA_ShowWithoutActivating);
    createControls();
    updateTitle();
}

ConsoleWindow::ConsoleWindow(QStringList command, QWidget* parent)
    : ConsoleWindow(parent) {
    addTool(std::move(command), QDir::currentPath(), QProcessEnvironment::systemEnvironment());
}

ConsoleWindow::~ConsoleWindow() {
    m_shown = nullptr;
    for (ToolJob* job : std::as_const(jobs())) {
        job->disconnect(this);
        job->stop(); // all asked at once; each job's end waits for its tool
    }
}

void ConsoleWindow::createControls() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("central"));
    setCentralWidget(central);
    createRows(central);
    createOutputViews(central);
    createStatusViews(central);
    createButtons(central);
    layOut(central);
}

// The tools' rows, one selected: its output shown.
void ConsoleWindow::createRows(QWidget* central) {
    using namespace texts;
    m_model = new ToolModel(this);
    m_rows = new QTreeView(central);
    m_rows->setObjectName(QStringLiteral("rows"));
    m_rows->setAccessibleName(kToolsName);
    m_rows->setModel(m_model);
    m_rows->setItemDelegateForColumn(ToolModel::ProgressColumn, new ProgressDelegate(m_rows));
    m_rows->setRootIsDecorated(false);
    m_rows->setUniformRowHeights(true);
    m_rows->setSelectionMode(QAbstractItemView::SingleSelection);
    m_rows->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_rows->header()->setStretchLastSection(false);
    m_rows->header()->setSectionResizeMode(ToolModel::ToolColumn, QHeaderView::Interactive);
    m_rows->header()->setSectionResizeMode(ToolModel::StateColumn, QHeaderView::Stretch);
    m_rows->header()->setSectionResizeMode(ToolModel::StartedColumn, QHeaderView::ResizeToContents);
    m_rows->setColumnWidth(ToolModel::ToolColumn, 320);
    m_rows->setColumnWidth(ToolModel::ProgressColumn, 140);
    m_rows->setTextElideMode(Qt::ElideMiddle);
    connect(m_rows->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                const ToolJob* job = m_model->jobAt(current);
                if (job && job != m_shown)
                    showSelected();
            });
}

// The selected tool's command line and output.
void ConsoleWindow::createOutputViews(QWidget* central) {
    using namespace texts;
    m_commandLine = textView(QStringLiteral("commandLine"), kCommandLineName, central);
    m_commandLine->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    fitLines(m_commandLine, 3);

    m_dropped = textLabel(QStringLiteral("dropped"), kOutputName, central);
    m_dropped->hide();

    m_output = new QPlainTextEdit(central);
    m_output->setObjectName(QStringLiteral("output"));
    m_output->setAccessibleName(kOutputName);
    m_output->setReadOnly(true);
    m_output->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_output->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_output->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QScrollBar* bar = m_output->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { m_followEnd = value == bar->maximum(); });
}

// Its progress, status and last error.
void ConsoleWindow::createStatusViews(QWidget* central) {
    using namespace texts;
    m_progress = new QProgressBar(central);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setAccessibleName(kProgressName);

    m_progressDetail = textLabel(QStringLiteral("progressDetail"), kProgressName, central);
    m_statusIcon = new QLabel(central);
    m_statusIcon->setObjectName(QStringLiteral("statusIcon"));
    m_statusIcon->setAccessibleName(kStatusName);
    m_status = textLabel(QStringLiteral("status"), kStatusName, central);
    m_lastErrorLabel = textView(QStringLiteral("lastError"), kLastErrorName, central);
    QFont bold = m_lastErrorLabel->font();
    bold.setBold(true);
    m_lastErrorLabel->setFont(bold);
    fitLines(m_lastErrorLabel, 2);
    m_lastErrorLabel->hide();
}

void ConsoleWindow::createButtons(QWidget* central) {
    using namespace texts;
    m_check = namedButton(kCheckImage, QStringLiteral("check"), central);
    connect(m_check, &QPushButton::clicked, this, &ConsoleWindow::checkShown);
    m_openFolder = namedButton(kOpenFolder, QStringLiteral("openFolder"), central);
    connect(m_openFolder, &QPushButton::clicked, this, &ConsoleWindow::openShownFolder);
    m_check->hide(); // offered once a tool has ended
    m_openFolder->hide();
    m_health = new QProgressBar(central);
    m_health->setObjectName(QStringLiteral("health"));
    m_health->setAccessibleName(kHealthName);
    m_health->setTextVisible(true);
    m_health->hide();
    m_save = namedButton(kSaveOutput, QStringLiteral("saveOutput"), central);
    connect(m_save, &QPushButton::clicked, this, &ConsoleWindow::saveOutput);
    m_stop = namedButton(kStop, QStringLiteral("stop"), central);
    m_close = namedButton(kClose, QStringLiteral("close"), central);
    connect(m_stop, &QPushButton::clicked, this, &ConsoleWindow::askToStop);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
}

void ConsoleWindow::layOut(QWidget* central) {
    QWidget* progressRow = progressWithPercent(m_progress, central);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(m_statusIcon, 0, Qt::AlignTop);
    statusRow->addWidget(m_status, 1);
    // Each row of buttons narrower than the narrowest screen.
    auto* saving = new QHBoxLayout;
    saving->addWidget(m_dropped, 1);
    saving->addWidget(m_save, 0, Qt::AlignRight | Qt::AlignTop);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_check);
    buttons->addWidget(m_openFolder);
    buttons->addStretch(1);
    buttons->addWidget(m_stop);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(m_rows);
    layout->addWidget(m_commandLine);
    layout->addLayout(saving);
    layout->addWidget(m_output, 1);
    layout->addWidget(progressRow);
    layout->addWidget(m_progressDetail);
    layout->addLayout(statusRow);
    layout->addWidget(m_lastErrorLabel);
    layout->addWidget(m_health);
    layout->addLayout(buttons);
    m_rows->setMaximumHeight(m_rows->sizeHintForRow(0) > 0 ? m_rows->sizeHintForRow(0) * 6 : 140);
    m_rows->hide(); // shown once there are two tools
    // As large as it is useful, never larger than the screen (a large scale may leave little).
    QSize size(760, 480);
    if (const QScreen* shownOn = screen())
        size = size.boundedTo(shownOn->availableGeometry().size() * 9 / 10);
    resize(size.expandedTo(minimumSizeHint()));
}

// The question in a box of its own, which closes itself (as "No") once every tool it asks about
// has ended.
bool ConsoleWindow::askUser(const QString& question) {
    QMessageBox box(QMessageBox::Question, texts::kConfirmTitle, question,
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    m_question = &box;
    const int answer = box.exec();
    m_question = nullptr;
    return answer == QMessageBox::Yes;
}

// Asks `question` about `tools`; whatever the answer, it applies only to those still running.
bool ConsoleWindow::confirm(const QString& question, const QList<ToolJob*>& tools) {
    m_askedAbout = tools;
    const bool yes = m_confirm(question);
    m_askedAbout.clear();
    return yes;
}

void ConsoleWindow::setConfirmation(std::function<bool(const QString&)> confirm) {
    m_confirm = std::move(confirm);
}

void ConsoleWindow::setAnnouncer(std::function<void(const Announcement&)> announce) {
    m_announce = std::move(announce);
}

void ConsoleWindow::setSaveDialog(std::function<QString(const QString&)> ask) {
    m_askWhereToSave = std::move(ask);
}

ToolJob* ConsoleWindow::addTool(QStringList command, QString folder,
                                QProcessEnvironment environment) {
    auto* job = new ToolJob(std::move(command), std::move(folder), std::move(environment), this);
    m_model->append(job);
    connect(job, &ToolJob::progressed, this, [this, job] {
        if (job == m_shown)
            showProgress();
    });
    connect(job, &ToolJob::stateChanged, this, [this, job] {
        if (job == m_shown)
            showState();
    });
    connect(job, &ToolJob::outputAdded, this, [this, job] {
        keepSpoolsWithinBound(job);
        if (job == m_shown) {
            followOutput();
            showDropped();
        }
    });
    connect(job, &ToolJob::done, this, [this, job] { jobEnded(job); });
    m_rows->setVisible(jobs().size() > 1);
    updateTitle();
    if (!m_shown || m_shown->ended())
        select(job);
    m_notStarted.append(job);
    return job;
}

// Tools that read one drive need no turns from the window: dat2file waits for the drive itself
// and says so on its progress line.
void ConsoleWindow::start() {
    for (ToolJob* job : std::exchange(m_notStarted, {}))
        job->start();
}

ToolJob* ConsoleWindow::selectedJob() const {
    return m_shown;
}

void ConsoleWindow::select(ToolJob* job) {
    if (const QModelIndex row = m_model->indexOf(job); row.isValid())
        m_rows->setCurrentIndex(row);
    if (m_shown != job)
        showSelected();
}

const QList<ToolJob*>& ConsoleWindow::jobs() const {
    return m_model->jobs();
}

bool ConsoleWindow::running() const {
    return std::any_of(jobs().begin(), jobs().end(),
                       [](const ToolJob* job) { return !job->ended(); });
}

QString ConsoleWindow::status() const {
    return m_shown ? m_shown->status() : QString();
}

int ConsoleWindow::exitStatus() const {
    return m_shown ? m_shown->exitStatus() : -1;
}

void ConsoleWindow::updateTitle() {
    const QString title =
        jobs().size() == 1 ? jobs().first()->title() : texts::kTitleOfMany.arg(jobs().size());
    setWindowTitle(title);
    setAccessibleName(title);
}

// The selected row's command line, output, progress and result below the rows.
void ConsoleWindow::showSelected() {
    m_shown = m_model->jobAt(m_rows->currentIndex());
    if (!m_shown && !jobs().isEmpty())
        m_shown = jobs().last();
    if (!m_shown)
        return;
    showWhole(m_commandLine, commandLineOf(m_shown->command()), 2, 5);
    m_output->setDocument(m_shown->output());
    m_followEnd = true;
    followOutput();
    showDropped();
    showProgress();
    showState();
    m_save->setEnabled(m_shown->canSaveOutput());
}

void ConsoleWindow::showDropped() {
    const qsizetype dropped = m_shown->droppedLines();
    m_dropped->setVisible(dropped > 0);
    if (dropped > 0)
        m_dropped->setText(texts::kDropped.arg(dropped));
}

void ConsoleWindow::saveOutput() {
    if (!m_shown)
        return;
    // Offered beside what the tool works on.
    const QString path = m_askWhereToSave(
        QDir(m_shown->folder()).filePath(m_shown->toolName() + QStringLiteral("-output.txt")));
    if (path.isEmpty())
        return;
    if (const std::optional<QString> why = m_shown->saveOutput(path)) {
        QMessageBox::warning(this, texts::kConfirmTitle, texts::kSaveFailed.arg(path, *why));
        return;
    }
    statusBar()->showMessage(texts::kSavedAs.arg(QDir::toNativeSeparators(path)));
}

void ConsoleWindow::keepSpoolsWithinBound(ToolJob* growing) {
    qint64 total = 0;
    for (const ToolJob* job : std::as_const(jobs()))
        total += job->spoolBytes();
    QStringList letGo;
    for (ToolJob* job : std::as_const(jobs())) { // oldest first
        if (total <= m_spoolBound || job == growing)
            break;
        if (job->spoolBytes() == 0)
            continue;
        total -= job->spoolBytes();
        job->letSpoolGo(m_spoolBound >> 20);
        letGo << job->toolName() + u' ' + job->startedAt().toString(QStringLiteral("HH:mm:ss"));
    }
    if (letGo.isEmpty())
        return;
    statusBar()->showMessage(
        texts::kSpoolsLetGo.arg(letGo.join(QStringLiteral(", "))).arg(m_spoolBound >> 20));
    if (m_shown)
        m_save->setEnabled(m_shown->canSaveOutput());
}

void ConsoleWindow::showProgress() {
    m_progress->setValue(m_shown->percent());
    setLabelText(m_progressDetail, m_shown->detail());
}

void ConsoleWindow::showState() {
    const ToolJob& job = *m_shown;
    setLabelText(m_status, job.status());
    QStyle::StandardPixmap icon = QStyle::SP_CustomBase;
    if (job.state() == ToolJob::State::Succeeded)
        icon = QStyle::SP_DialogApplyButton;
    else if (job.state() == ToolJob::State::Repaired || job.state() == ToolJob::State::Warned)
        icon = QStyle::SP_MessageBoxWarning; // whole, but the disc is wearing, or said so
    else if (job.state() == ToolJob::State::Failed)
        icon = QStyle::SP_MessageBoxCritical;
    else if (job.state() == ToolJob::State::Stopped)
        icon = QStyle::SP_MessageBoxInformation;
    if (icon == QStyle::SP_CustomBase) {
        m_statusIcon->clear();
    } else {
        const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
        m_statusIcon->setPixmap(style()->standardIcon(icon).pixmap(size, size));
    }
    const bool showError = job.state() == ToolJob::State::Failed && !job.summary().isEmpty();
    showWhole(m_lastErrorLabel, showError ? job.summary() : QString(), 1, 5);
    m_lastErrorLabel->setVisible(showError);
    m_stop->setEnabled(!job.ended()); // pressed again while stopping, it ends the tool at once
    showFollowUp();
}

// What the tool shown offers once it has ended: its image or source checked, its folder
// opened; and how close the disc is to losing data, where the tool said so.
void ConsoleWindow::showFollowUp() {
    const ToolJob& job = *m_shown;
    const std::optional<FollowUp> next =
        job.ended() ? followUpOf(job.command(), job.folder()) : std::nullopt;
    // A build checks only an image it wrote; a read, its source however it ended.
    const bool canCheck =
        next && !next->check.isEmpty() && (next->built ? job.succeeded() : job.exitStatus() >= 0);
    m_check->setText(next && !next->built ? texts::kCheckSource : texts::kCheckImage);
    m_check->setAccessibleName(m_check->text());
    m_check->setVisible(next.has_value());
    m_check->setEnabled(canCheck);
    m_openFolder->setVisible(next.has_value());
    m_openFolder->setEnabled(next && !next->folder.isEmpty() && QFileInfo(next->folder).isDir());
    const std::optional<Margin>& margin = job.marginFigures();
    m_health->setVisible(job.ended() && margin.has_value());
    if (!margin)
        return;
    m_health->setRange(0, margin->canLose);
    m_health->setValue(std::max(0, margin->canLose - margin->lost)); // what is left
    // Short in the bar; whole for a tooltip and a screen reader.
    const QString said = texts::kHealth.arg(margin->lost).arg(margin->canLose);
    m_health->setFormat(texts::kHealthShort.arg(m_health->value()).arg(margin->canLose));
    m_health->setToolTip(said);
    m_health->setAccessibleDescription(said);
}

void ConsoleWindow::checkShown() {
    if (!m_shown)
        return;
    const std::optional<FollowUp> next = followUpOf(m_shown->command(), m_shown->folder());
    if (!next || next->check.isEmpty())
        return;
    ToolJob* check = addTool(next->check, m_shown->folder(), m_shown->environment());
    select(check);
    start();
}

void ConsoleWindow::openShownFolder() {
    if (!m_shown)
        return;
    if (const std::optional<FollowUp> next = followUpOf(m_shown->command(), m_shown->folder());
        next && !next->folder.isEmpty())
        m_openFolderWith(next->folder);
}

void ConsoleWindow::setFolderOpener(std::function<void(const QString&)> open) {
    m_openFolderWith = std::move(open);
}

void ConsoleWindow::followOutput() {
    if (!m_followEnd)
        return;
    QScrollBar* bar = m_output->verticalScrollBar();
    bar->setValue(bar->maximum());
    m_followEnd = true;
}

void ConsoleWindow::jobEnded(ToolJob* job) {
    if (job == m_shown) {
        showState();
        if (!running())
            m_close->setFocus();
    }
    // The result is announced, whichever row is selected, and to a user in another window.
    QAccessibleEvent alert(job == m_shown ? static_cast<QObject*>(m_status) : m_rows,
                           QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
    if (!isActiveWindow())
        m_unannounced.append(job);
    if (!running() && m_announce) {
        QList<const ToolJob*> ended;
        for (const QPointer<ToolJob>& unannounced : std::as_const(m_unannounced))
            if (unannounced)
                ended.append(unannounced.data());
        if (!ended.isEmpty())
            m_announce(announcementOf(ended));
        m_unannounced.clear();
    }
    // A question about tools that have all ended has no reason left.
    if (m_question && std::all_of(m_askedAbout.begin(), m_askedAbout.end(),
                                  [](const ToolJob* asked) { return asked->ended(); })) {
        m_question->done(QMessageBox::No);
        // Said where the question stood, so that it does not vanish without a word.
        setLabelText(m_status, m_shown ? m_shown->status() + u' ' + texts::kEndedBeforeAnswer
                                       : texts::kEndedBeforeAnswer);
    }
    Q_EMIT toolFinished();
    if (!running()) {
        Q_EMIT allFinished();
        if (m_closeWhenDone)
            close();
    }
}

void ConsoleWindow::askToStop() {
    ToolJob* job = m_shown;
    if (!job || job->ended())
        return;
    if (job->state() == ToolJob::State::Stopping ||
        confirm(texts::kConfirmStop.arg(job->toolName()), {job}))
        job->stop(); // nothing when it ended meanwhile
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
    if (!running()) {
        event->accept();
        return;
    }
    event->ignore();
    if (m_closeWhenDone) {
        // Closed again while tools are stopping: they are ended at once.
        for (ToolJob* job : std::as_const(jobs()))
            if (!job->ended())
                job->stop();
        return;
    }
    QList<ToolJob*> left;
    std::copy_if(jobs().begin(), jobs().end(), std::back_inserter(left),
                 [](const ToolJob* job) { return !job->ended(); });
    const QString question = left.size() == 1 ? texts::kConfirmStop.arg(left.first()->toolName())
                                              : texts::kConfirmStopAll.arg(left.size());
    const bool yes = confirm(question, left);
    // The tools may have ended while the question was open: then nothing holds the window.
    if (!running()) {
        event->accept();
        return;
    }
    if (!yes)
        return;
    m_closeWhenDone = true;
    // The ones not started yet first, so that none starts as another ends.
    for (ToolJob* job : left)
        if (!job->active())
            job->stop();
    for (ToolJob* job : left)
        job->stop();
    if (!running())
        event->accept();
}

QString ConsoleWindow::report() const {
    QString text;
    for (const ToolJob* job : jobs())
        text += QStringLiteral("title: %1\ncommand: %2\nprogress: %3 highest %4\nstatus: %5\n"
                               "last error: %6\noutput:\n%7\n")
                    .arg(job->title(), commandLineOf(job->command()))
                    .arg(job->percent())
                    .arg(job->highestPercent())
                    .arg(job->status(),
                         job->state() == ToolJob::State::Failed ? job->summary() : QString(),
                         job->output()->toPlainText());
    const QScreen* shownOn = screen();
    text += QStringLiteral("window width: %1 of %2\n")
                .arg(frameGeometry().width())
                .arg(shownOn ? shownOn->availableGeometry().width() : 0);
    return text + QStringLiteral("rows: %1\n").arg(jobs().size());
}

} // namespace velmora::console
