// SPDX-License-Identifier: GPL-3.0-or-later
#include "testfiles.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>

namespace velmora::test {

QString makeFile(const QString& folder, const QString& name, qint64 size) {
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        qFatal("cannot make the test file %s", qPrintable(path));
    return QDir::toNativeSeparators(path);
}

QString makeFolder(const QString& parent, const QString& name) {
    if (!QDir(parent).mkpath(name))
        qFatal("cannot make the test folder %s", qPrintable(name));
    return QDir::toNativeSeparators(QDir(parent).filePath(name));
}

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

} // namespace velmora::test
