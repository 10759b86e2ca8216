// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The standard controls of the window: thin Qt widgets that offer the properties and events the
// handlers use, under the names the handlers use. Setting a property that raises an event (the
// directory list's Path raises Change) runs that event's handlers before the setter returns.

#include "platform/services.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>

#include <functional>

class QStringListModel;

namespace velmora {

class DriveTable;

// The drives of the machine; Change when the user picks another one.
class DriveListBox : public QComboBox {
    Q_OBJECT
public:
    DriveListBox(const DriveTable& drives, QWidget* parent);

    // The selected drive's text: its root, and its label in brackets.
    QString Drive() const { return currentText(); }
    // Selects the drive that holds `folder`, quietly: no Change.
    void showDriveOf(const QString& folder);

Q_SIGNALS:
    void Change();

private:
    void selectInList();

    const DriveTable& m_drives;
};

// The folder being browsed: its drive's root, the chain of folders down to it, then its
// subfolders, indented. A double-click (or Enter) on a folder makes it the current one. The
// subfolders shown follow the disk: a folder made or removed there shows at once.
class DirListBox : public QListWidget {
    Q_OBJECT
public:
    DirListBox(DriveTable& drives, QWidget* parent);

    QString Path() const { return m_path; }
    // Moves to a folder, or to a drive's current folder when given a drive's text. Raises
    // Change when the path changes. A folder that cannot be opened leaves everything as it was.
    Outcome setPath(const QString& folderOrDrive);

Q_SIGNALS:
    void Change();
    // A folder the user chose could not be opened.
    void openFailed(const QString& folder, const QString& reason);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void open(const QListWidgetItem* item);
    Outcome moveTo(const QString& folder);
    void fill(const QStringList& subfolders);

    DriveTable& m_drives;
    QString m_path;
    QFileSystemWatcher m_watcher{this};
};

// The plain, non-hidden files of a folder, sorted by name. The list follows the disk: a file
// written or removed there shows at once, and the selected file stays selected. Enter on a
// file raises DblClick, as a double-click does.
class FileListBox : public QListView {
    Q_OBJECT
public:
    explicit FileListBox(QWidget* parent);

    QString Path() const { return m_path; }
    // Lists the files of `folder`. A folder that cannot be read is taken with no files, and
    // the reason is returned.
    Outcome setPath(const QString& folder);
    // The selected file's name, empty when none is selected.
    QString FileName() const;

Q_SIGNALS:
    void DblClick();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refresh();

    QStringListModel* m_files;
    QString m_path;
    QFileSystemWatcher m_watcher{this};
};

class EntryModel;

// A list of texts in the order they were added; one item selected at a time. Adding a text
// costs the same however long the list is, and brings it into view. Enter on an item raises
// DblClick; Tab leaves the list.
class ListBox : public QTableView {
    Q_OBJECT
public:
    explicit ListBox(QWidget* parent);
    ~ListBox() override;

    int ListCount() const;
    // The text at `index`; the empty text past the last item.
    QString List(int index) const;
    QStringList entries() const;
    // The selected item's index, -1 when none is selected.
    int ListIndex() const;
    void AddItem(const QString& text);
    void RemoveItem(int index);

    // The screen reader's view of the entry at `row`, made by `make` the first time it is
    // asked for and kept until the rows move.
    QAccessibleInterface* accessibleEntry(int row,
                                          const std::function<QAccessibleInterface*()>& make) const;

Q_SIGNALS:
    void DblClick();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitColumn();
    void forgetAccessibleEntries();

    EntryModel* m_entries;
    mutable QHash<int, QAccessible::Id> m_accessibleEntries;
    int m_widest = 0; // the widest text added, in pixels
    bool m_scrollQueued = false;
};

// A single-line text box; Click on a click of the left button inside it. Its border keeps to
// the colour scheme, light or dark.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget* parent);

Q_SIGNALS:
    void Click();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// A check box whose caption wraps at word boundaries and may take the highlight colour.
class CheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit CheckBox(QWidget* parent);

    // 1 when ticked, 0 when not.
    int Value() const { return isChecked() ? 1 : 0; }
    void setHighlighted(bool highlighted);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    bool m_highlighted = false;
};

// A push button that is never the window's default button; Enter presses it while it has the
// focus, as Space does.
class CommandButton : public QPushButton {
    Q_OBJECT
public:
    explicit CommandButton(QWidget* parent);

Q_SIGNALS:
    void Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A fixed caption, wrapped at word boundaries; optionally in the highlight colour, read from
// the palette each time it is drawn.
class Label : public QLabel {
    Q_OBJECT
public:
    explicit Label(QWidget* parent);
    void setHighlighted(bool highlighted);
};

} // namespace velmora
