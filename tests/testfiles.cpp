// SPDX-License-Identifier: GPL-3.0-or-later
#include "testfiles.h"

#include "platform/filenamecodec.h"

#include <QtTest>

#include <QElapsedTimer>

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>

namespace velmora::test {

namespace {

QPoint centreOf(QAbstractItemView& view, const QModelIndex& index) {
    QCoreApplication::processEvents(); // lets the view lay out what it was last given
    view.scrollTo(index);
    return view.visualRect(index).center();
}

} // namespace

void doubleClick(QAbstractItemView& view, const QModelIndex& index) {
    const QPoint centre = centreOf(view, index);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, centre);
}

void click(QAbstractItemView& view, const QModelIndex& index) {
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, centreOf(view, index));
}

QModelIndex itemShowing(const QAbstractItemView& view, const QString& text) {
    const QModelIndexList found =
        view.model()->match(view.model()->index(0, 0), Qt::DisplayRole, text, -1, Qt::MatchExactly);
    return found.isEmpty() ? QModelIndex() : found.constLast();
}

CurrentFolderGuard::CurrentFolderGuard()
    : m_folder(QDir::currentPath()) {}

CurrentFolderGuard::~CurrentFolderGuard() {
    QDir::setCurrent(m_folder);
}

QList<Record> waitForRecords(const QString& folder, int count) {
    const QDir records(folder, u"*.txt"_qs, QDir::Name);
    QElapsedTimer waited;
    waited.start();
    while (records.entryList(QDir::Files).size() < count && waited.elapsed() < 10000)
        QTest::qWait(20);
    QTest::qWait(100); // one more would show up now
    QList<Record> found;
    for (const QString& name : records.entryList(QDir::Files)) {
        QFile file(records.filePath(name));
        file.open(QIODevice::ReadOnly);
        QStringList lines = decodeFileName(file.readAll()).split(u'\n'); // bytes kept
        lines.removeLast(); // after the last line break
        found.append({lines.takeFirst(), lines});
    }
    return found;
}

} // namespace velmora::test
