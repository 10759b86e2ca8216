// SPDX-License-Identifier: GPL-3.0-or-later
// The folder browser: a new drive moves the directory list, and every new folder of the
// directory list refills the file list and, while Check1 is ticked, becomes the storage path.

#include "app/form1.h"
#include "browse/texts.h"
#include "platform/controls.h"

namespace velmora {

void Form1::Drive1_Change() {
    const QString drive = Drive1->Drive();
    if (const Outcome moved = Dir1->setPath(drive); !moved) {
        Drive1->showDriveOf(Dir1->Path()); // the drive list goes back to the folder shown
        reportFailure(texts::kCannotOpenDrive, drive, moved.reason);
    }
}

void Form1::Dir1_Change() {
    if (const Outcome filled = File1->setPath(Dir1->Path()); !filled) {
        reportFailure(texts::kCannotOpenFolder, File1->Path(), filled.reason);
        return;
    }
    if (Check1->Value() == 1)
        Text3->setText(Dir1->Path());
}

} // namespace velmora
