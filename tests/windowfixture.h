// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window under test, shown, with its controls at hand by their names and the user's
// gestures on them.

#include "app/form1.h"
#include "fakeservices.h"
#include "platform/controls.h"
#include "platform/drives.h"
#include "testfiles.h"

#include <QtTest>

namespace velmora::test {

struct Window {
    explicit Window(FakeServices& services, DriveTable drives = DriveTable::mounted())
        : form(services, std::move(drives)) {
        form.show();
    }
    template <class Control> Control* get(const char* name) {
        return form.findChild<Control*>(QLatin1StringView(name));
    }
    DriveListBox* Drive1() { return get<DriveListBox>("Drive1"); }
    DirListBox* Dir1() { return get<DirListBox>("Dir1"); }
    FileListBox* File1() { return get<FileListBox>("File1"); }
    ListBox* List1() { return get<ListBox>("List1"); }
    CheckBox* Check1() { return get<CheckBox>("Check1"); }
    TextBox* Text3() { return get<TextBox>("Text3"); }
    TextBox* box(const char* name) { return get<TextBox>(name); }

    // Entries put in the source list as double-clicks would.
    void add(const QStringList& entries) {
        for (const QString& entry : entries)
            List1()->AddItem(entry);
    }
    void build() { QTest::mouseClick(get<CommandButton>("Command1"), Qt::LeftButton); }
    void extract() { QTest::mouseClick(get<CommandButton>("Extraire"), Qt::LeftButton); }
    void doubleClickFile(const QString& name) {
        const QModelIndex file = itemShowing(*File1(), name);
        QVERIFY2(file.isValid(), qPrintable(name));
        doubleClick(*File1(), file);
    }
    void doubleClickFolder(const QString& name) {
        const QModelIndex folder = itemShowing(*Dir1(), name);
        QVERIFY2(folder.isValid(), qPrintable(name));
        doubleClick(*Dir1(), folder);
    }

    Form1 form;
};

} // namespace velmora::test
