// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/controls.h"

#include "platform/drives.h"
#include "platform/filenamecodec.h"
#include "platform/filesystem.h"
#include "platform/pathrules.h"

#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStringListModel>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <QStyledItemDelegate>
#include <algorithm>
#include <filesystem>

namespace velmora {

namespace {

// The plain, non-hidden files of a folder (or links to such files), by name. Names that are not
// UTF-8 are listed too, each keeping its bytes.
QStringList filesOf(const QString& folder) {
#ifdef Q_OS_WIN
    return QDir(folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
#else
    QStringList files;
    std::error_code error;
    for (std::filesystem::directory_iterator it(fsPath(folder), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().native();
        std::error_code notAFile; // a link that leads nowhere, say: left out, the rest listed
        if (!name.starts_with('.') && it->is_regular_file(notAFile))
            files.append(decodeFileName(QByteArrayView(name.data(), qsizetype(name.size()))));
    }
    std::sort(files.begin(), files.end(), [](const QString& a, const QString& b) {
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
    return files;
#endif
}

// Makes `watcher` follow `folder` alone.
void watchOnly(QFileSystemWatcher& watcher, const QString& folder) {
    if (watcher.directories() == QStringList{folder})
        return;
    if (!watcher.directories().isEmpty())
        watcher.removePaths(watcher.directories());
    watcher.addPath(folder);
}

constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kIndentPerLevel = 8;
// Deeper folders are indented no further, so that a deep current folder stays in view.
constexpr int kDeepestIndent = 12;

bool isActivation(const QKeyEvent* event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
           event->key() == Qt::Key_Select;
}

// The item the keyboard is on is the one an activation key acts on, selected or not yet.
void selectCurrent(QAbstractItemView& view) {
    const QModelIndex current = view.currentIndex();
    if (current.isValid() && !view.selectionModel()->isSelected(current))
        view.selectionModel()->select(current, QItemSelectionModel::ClearAndSelect |
                                                   QItemSelectionModel::Rows);
}

// Draws each folder of the directory list indented by its depth.
class IndentDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem indented = option;
        const int level = std::min(index.data(kLevelRole).toInt(), kDeepestIndent);
        indented.rect.adjust(level * kIndentPerLevel, 0, 0, 0);
        QStyledItemDelegate::paint(painter, indented, index);
    }
};

// A border that stands out in light and dark colour schemes alike: halfway between the text
// and the field it surrounds.
QColor borderColour(const QPalette& palette) {
    const QColor text = palette.color(QPalette::Text);
    const QColor base = palette.color(QPalette::Base);
    return QColor::fromRgbF((text.redF() + base.redF()) / 2, (text.greenF() + base.greenF()) / 2,
                            (text.blueF() + base.blueF()) / 2);
}

void drawBorder(QPainter& painter, const QRect& rect, const QPalette& palette) {
    painter.setPen(borderColour(palette));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
}

} // namespace

// ---- DriveListBox

DriveListBox::DriveListBox(const DriveTable& drives, QWidget* parent)
    : QComboBox(parent)
    , m_drives(drives) {
    for (const Volume& volume : m_drives.volumes())
        addItem(DriveTable::driveText(volume));
    connect(this, &QComboBox::currentIndexChanged, this, &DriveListBox::selectInList);
    connect(this, &QComboBox::currentIndexChanged, this, &DriveListBox::Change);
    selectInList();
}

// The chosen drive is the selected item of the drop-down list too, closed or open: screen
// readers take a drop-down list's value from there.
void DriveListBox::selectInList() {
    view()->setCurrentIndex(model()->index(currentIndex(), modelColumn()));
}

void DriveListBox::showDriveOf(const QString& folder) {
    const auto volume = m_drives.volumeOf(folder);
    if (!volume)
        return;
    {
        const QSignalBlocker quiet(this);
        setCurrentIndex(findText(DriveTable::driveText(*volume)));
    }
    selectInList();
}

// ---- DirListBox

DirListBox::DirListBox(DriveTable& drives, QWidget* parent)
    : QListWidget(parent)
    , m_drives(drives) {
    setItemDelegate(new IndentDelegate(this));
    setUniformItemSizes(true);
    setTextElideMode(Qt::ElideLeft); // a long name keeps its end in view
    connect(this, &QListWidget::itemDoubleClicked, this, &DirListBox::open);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        const int scrolled = verticalScrollBar()->value();
        if (moveTo(m_path)) // the same folder again: no Change
            verticalScrollBar()->setValue(scrolled);
    });
}

Outcome DirListBox::setPath(const QString& folderOrDrive) {
    const auto drive = m_drives.volumeOfDriveText(folderOrDrive);
    return moveTo(drive ? m_drives.currentFolder(*drive) : nativeFolder(folderOrDrive));
}

Outcome DirListBox::moveTo(const QString& folder) {
    if (const Outcome opened = openFolder(folder); !opened)
        return opened;
    const QStringList subfolders =
        QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    const bool changed = folder != m_path;
    m_path = folder;
    m_drives.remember(folder);
    fill(subfolders);
    watchOnly(m_watcher, folder);
    if (changed)
        Q_EMIT Change();
    return Outcome::success();
}

void DirListBox::keyPressEvent(QKeyEvent* event) {
    if (isActivation(event) && currentItem()) {
        open(currentItem());
        return;
    }
    QListWidget::keyPressEvent(event);
}

void DirListBox::open(const QListWidgetItem* item) {
    if (!item)
        return;
    const QString folder = item->data(kPathRole).toString();
    if (const Outcome opened = moveTo(folder); !opened)
        Q_EMIT openFailed(folder, opened.reason);
}

void DirListBox::fill(const QStringList& subfolders) {
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const QChar separator = QDir::separator();
    int level = 0;
    const auto add = [&](const QString& text, const QString& path, const QIcon& icon) {
        auto* item = new QListWidgetItem(icon, text, this);
        item->setData(kPathRole, path);
        item->setData(kLevelRole, level);
        return item;
    };

    clear();
    const auto volume = m_drives.volumeOf(m_path);
    const QString root = volume ? volume->root : m_path.left(1);
    QString chain = root;
    QListWidgetItem* current = add(root, root, openIcon);
    const QStringList below = m_path.mid(root.size()).split(separator, Qt::SkipEmptyParts);
    for (const QString& name : below) {
        ++level;
        chain = fullPath(chain, name, separator);
        current = add(name, chain, openIcon);
    }
    ++level;
    for (const QString& name : subfolders)
        add(name, fullPath(m_path, name, separator), closedIcon);
    setCurrentItem(current);
    scrollToItem(current);
}

// ---- FileListBox

FileListBox::FileListBox(QWidget* parent)
    : QListView(parent)
    , m_files(new QStringListModel(this)) {
    setModel(m_files);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &FileListBox::refresh);
}

Outcome FileListBox::setPath(const QString& folder) {
    m_path = folder;
    const Outcome opened = openFolder(folder);
    m_files->setStringList(opened ? filesOf(folder) : QStringList());
    watchOnly(m_watcher, folder);
    return opened;
}

// Lists the folder again, keeping the selected file and the scrolled place where they remain.
void FileListBox::refresh() {
    const QString selected = FileName();
    const int scrolled = verticalScrollBar()->value();
    m_files->setStringList(filesOf(m_path));
    verticalScrollBar()->setValue(scrolled);
    const int row = selected.isEmpty() ? -1 : int(m_files->stringList().indexOf(selected));
    if (row >= 0)
        setCurrentIndex(m_files->index(row));
}

QString FileListBox::FileName() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QString() : selected.constFirst().data().toString();
}

void FileListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        Q_EMIT DblClick();
}

void FileListBox::keyPressEvent(QKeyEvent* event) {
    if (isActivation(event)) {
        selectCurrent(*this);
        Q_EMIT DblClick();
        return;
    }
    QListView::keyPressEvent(event);
}

// ---- ListBox

// The texts of a list box, appended at the end and removed anywhere.
class EntryModel final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_texts.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
            return {};
        return m_texts.at(index.row());
    }
    void append(const QString& text) {
        const int row = int(m_texts.size());
        beginInsertRows({}, row, row);
        m_texts.append(text);
        endInsertRows();
    }
    void remove(int row) {
        beginRemoveRows({}, row, row);
        m_texts.removeAt(row);
        endRemoveRows();
    }
    const QStringList& texts() const { return m_texts; }

private:
    QStringList m_texts;
};

ListBox::ListBox(QWidget* parent)
    : QTableView(parent)
    , m_entries(new EntryModel(this)) {
    setModel(m_entries);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
    setShowGrid(false);
    setWordWrap(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setTabKeyNavigation(false);
    fitColumn();
}

int ListBox::ListCount() const {
    return m_entries->rowCount();
}

QString ListBox::List(int index) const {
    return m_entries->texts().value(index);
}

QStringList ListBox::entries() const {
    return m_entries->texts();
}

int ListBox::ListIndex() const {
    const QModelIndexList selected = selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.constFirst().row();
}

void ListBox::AddItem(const QString& text) {
    m_entries->append(text);
    // Once the view has taken the new row in (after this event), the last entry comes into view.
    if (!m_scrollQueued) {
        m_scrollQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_scrollQueued = false;
                if (ListCount() > 0)
                    scrollTo(m_entries->index(ListCount() - 1), QAbstractItemView::EnsureVisible);
            },
            Qt::QueuedConnection);
    }
    const int width = fontMetrics().horizontalAdvance(text) + 2 * frameWidth() + 8;
    if (width > m_widest) {
        m_widest = width;
        fitColumn();
    }
}

ListBox::~ListBox() {
    forgetAccessibleEntries();
}

QAccessibleInterface*
ListBox::accessibleEntry(int row, const std::function<QAccessibleInterface*()>& make) const {
    if (const auto known = m_accessibleEntries.constFind(row); known != m_accessibleEntries.cend())
        return QAccessible::accessibleInterface(*known);
    QAccessibleInterface* entry = make();
    m_accessibleEntries.insert(row, QAccessible::registerAccessibleInterface(entry));
    return entry;
}

void ListBox::forgetAccessibleEntries() {
    for (const QAccessible::Id id : std::as_const(m_accessibleEntries))
        QAccessible::deleteAccessibleInterface(id);
    m_accessibleEntries.clear();
}

void ListBox::RemoveItem(int index) {
    forgetAccessibleEntries(); // the rows after it move up
    m_entries->remove(index);
    clearSelection();
}

void ListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        Q_EMIT DblClick();
}

void ListBox::keyPressEvent(QKeyEvent* event) {
    if (isActivation(event)) {
        selectCurrent(*this);
        Q_EMIT DblClick();
        return;
    }
    QTableView::keyPressEvent(event);
}

void ListBox::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    fitColumn();
}

// The one column is as wide as the box, or as the widest text when that is wider.
void ListBox::fitColumn() {
    setColumnWidth(0, std::max(viewport()->width(), m_widest));
}

// ---- TextBox

TextBox::TextBox(QWidget* parent)
    : QLineEdit(parent) {}

void TextBox::paintEvent(QPaintEvent* event) {
    QLineEdit::paintEvent(event);
    QPainter painter(this);
    drawBorder(painter, rect(), palette());
}

void TextBox::mouseReleaseEvent(QMouseEvent* event) {
    QLineEdit::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT Click();
}

// ---- CheckBox

// A check box whose whole area answers a click, and says so to screen readers.
class WholeAreaStyle final : public QProxyStyle {
public:
    QRect subElementRect(SubElement element, const QStyleOption* option,
                         const QWidget* widget) const override {
        if (element == SE_CheckBoxClickRect && widget)
            return widget->rect();
        return QProxyStyle::subElementRect(element, option, widget);
    }
};

CheckBox::CheckBox(QWidget* parent)
    : QCheckBox(parent) {
    auto* style = new WholeAreaStyle;
    style->setParent(this);
    setStyle(style);
}

void CheckBox::setHighlighted(bool highlighted) {
    m_highlighted = highlighted;
    update();
}

void CheckBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();

    QStyleOptionButton indicator = option;
    indicator.rect = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
    indicator.rect.moveTop((height() - indicator.rect.height()) / 2);
    painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, indicator);
    drawBorder(painter, indicator.rect, palette());

    const int spacing = style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, this);
    const QRect captionRect = rect().adjusted(indicator.rect.right() + 1 + spacing, 0, 0, 0);
    constexpr int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;
    painter.drawItemText(captionRect, flags, palette(), isEnabled(), text(),
                         m_highlighted ? QPalette::Highlight : QPalette::WindowText);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = painter.boundingRect(captionRect, flags, text()).adjusted(-1, 0, 1, 0);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

bool CheckBox::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

// ---- CommandButton

CommandButton::CommandButton(QWidget* parent)
    : QPushButton(parent) {
    setAutoDefault(false);
    setDefault(false);
    connect(this, &QPushButton::clicked, this, &CommandButton::Click);
}

void CommandButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !event->isAutoRepeat()) {
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

// ---- Label

Label::Label(QWidget* parent)
    : QLabel(parent) {
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
}

void Label::setHighlighted(bool highlighted) {
    setForegroundRole(highlighted ? QPalette::Highlight : QPalette::WindowText);
}

} // namespace velmora
