// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/services.h"

#include <QComboBox>

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

} // namespace velmora
