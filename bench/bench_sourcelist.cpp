// SPDX-License-Identifier: GPL-3.0-or-later
// Double-clicking files into the source list: 50,000 accepted double-clicks against 5,000. The
// time should grow linearly (at most 12 times for ten times the clicks).

#include "app/form1.h"
#include "benchclock.h"
#include "platform/controls.h"
#include "platform/services.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Every file is large enough; nothing blocks.
class QuietServices final : public velmora::Services {
public:
    void messageBox(const QString&, velmora::MessageStyle) override {}
    velmora::Outcome launch(const velmora::ToolCommand&) override { return {}; }
    velmora::Outcome changeDrive(const QString&) override { return {}; }
    velmora::Outcome changeDirectory(const QString&) override { return {}; }
    velmora::FileLength fileLength(const QString&) override { return {500000, {}}; }
    std::optional<QString> openFile(const QString&, const QString&) override { return {}; }
};

double doubleClicks(const QString& folder, int count) {
    QuietServices services;
    velmora::Form1 window(services);
    window.show();
    (void)window.findChild<velmora::DirListBox*>(QStringLiteral("Dir1"))->setPath(folder);
    auto* files = window.findChild<velmora::FileListBox*>(QStringLiteral("File1"));
    auto* list = window.findChild<velmora::ListBox*>(QStringLiteral("List1"));
    QCoreApplication::processEvents();
    const QPoint first = files->visualRect(files->model()->index(0, 0)).center();
    const double elapsed = velmora::bench::bestOf(1, [&] {
        for (int i = 0; i < count; ++i) {
            QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, first);
            QTest::mouseDClick(files->viewport(), Qt::LeftButton, {}, first);
            QTest::mouseRelease(files->viewport(), Qt::LeftButton, {}, first);
            QCoreApplication::processEvents(); // as between two clicks of a user
        }
    });
    return list->ListCount() == count ? elapsed : -1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QTemporaryDir folder;
    QFile(folder.filePath(QStringLiteral("a.bin"))).open(QIODevice::WriteOnly);
    const double small = doubleClicks(folder.path(), 5000);
    const double large = doubleClicks(folder.path(), 50000);
    if (small < 0 || large < 0)
        return 1;
    velmora::bench::report("50,000 accepted double-clicks", large, "5,000", small, 12);
    return 0;
}
