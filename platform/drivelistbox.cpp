// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/drivelistbox.h"

#include "platform/drives.h"

#include <QAbstractItemView>

namespace velmora {

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

} // namespace velmora
